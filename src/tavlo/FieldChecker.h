#pragma once

#include <QLineEdit>
#include <QObject>
#include <QString>
#include <functional>

namespace tavlo {

// The check of one settings text field, run when the focus leaves the field: valid text is copied into the
// setting; invalid text is reported with the field's message, the field emptied and the focus given back.
// An empty field is valid for every checker.
class FieldChecker : public QObject {
    Q_OBJECT
public:
    // What the checker needs from its window.
    class Host {
    public:
        virtual ~Host() = default;
        virtual bool isClosing() const = 0;
        // Shows the text of the key in an error box, unless another box of the window is open.
        virtual void showFieldError(const QString& key) = 0;
    };
    using Store = std::function<void(const QString&)>;

    FieldChecker(QLineEdit* field, QString errorKey, Host& host, Store store);

    virtual bool verify(const QLineEdit* field) const = 0;
    // Checks the field as if the focus left it; true when it may go.
    bool shouldYieldFocus(QLineEdit* field);
    // The same check without handing the focus back: for taking all settings from the tabs at once.
    bool check();

    QLineEdit* field() const { return m_field; }
    const QString& errorKey() const { return m_errorKey; }

protected:
    // The text as it is checked and stored (the operand turns "," into ".").
    virtual QString normalise(const QString& text) const { return text; }
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool run(bool refocus);

    QLineEdit* m_field;
    QString m_errorKey;
    Host& m_host;
    Store m_store;
};

// A checker whose test is a settings validator (the same test that stored values pass).
class ValidatorFieldChecker : public FieldChecker {
    Q_OBJECT
public:
    using Validator = std::function<bool(const QString&)>;
    ValidatorFieldChecker(QLineEdit* field, QString errorKey, Host& host, Store store, Validator validator);
    bool verify(const QLineEdit* field) const override { return m_validator(field->text()); }

private:
    Validator m_validator;
};

} // namespace tavlo
