#include "tavlo/FieldChecker.h"

#include <QEvent>
#include <QFocusEvent>
#include <QTimer>

namespace tavlo {

FieldChecker::FieldChecker(QLineEdit* field, QString errorKey, Host& host, Store store)
    : QObject(field), m_field(field), m_errorKey(std::move(errorKey)), m_host(host), m_store(std::move(store)) {
    field->installEventFilter(this);
}

bool FieldChecker::shouldYieldFocus(QLineEdit* field) {
    Q_UNUSED(field);
    return run(true);
}

bool FieldChecker::check() {
    return run(false);
}

bool FieldChecker::run(bool refocus) {
    const QString text = normalise(m_field->text());
    if (text != m_field->text())
        m_field->setText(text);
    if (verify(m_field)) {
        m_store(text);
        return true;
    }
    if (m_host.isClosing())
        return false;
    m_host.showFieldError(m_errorKey);
    m_field->clear();
    if (refocus) {
        // The focus goes back once the message has been acknowledged and the focus change has completed.
        QTimer::singleShot(0, m_field, [field = m_field] { field->setFocus(Qt::OtherFocusReason); });
    }
    return false;
}

bool FieldChecker::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_field && event->type() == QEvent::FocusOut && m_field->isEnabled()) {
        // A box or menu taking the focus for a moment is no leaving of the field.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            run(true);
    }
    return QObject::eventFilter(watched, event);
}

ValidatorFieldChecker::ValidatorFieldChecker(QLineEdit* field, QString errorKey, Host& host, Store store,
                                             Validator validator)
    : FieldChecker(field, std::move(errorKey), host, std::move(store)), m_validator(std::move(validator)) {}

} // namespace tavlo
