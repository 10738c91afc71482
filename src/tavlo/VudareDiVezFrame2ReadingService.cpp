// The Services tab's reading service: its port, the web pages that may use it, and the token for commands.
#include "tavlo/VudareDiVezFrame2.h"

#include "output/ReadingServiceToken.h"
#include "output/ServiceAccess.h"

#include <QClipboard>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace tavlo {

QWidget* VudareDiVezFrame2::buildReadingServiceGroup(QWidget* page) {
    auto* group = new QGroupBox(QStringLiteral("Reading service"), page);
    readingServicePortBox = new QSpinBox(group);
    readingServicePortBox->setRange(0, 65535);
    readingServicePortBox->setSpecialValueText(QStringLiteral("off"));
    readingServicePortBox->setToolTip(QStringLiteral(
        "Web pages and programs on this computer get the readings from ws://localhost:PORT/readings while Tavlo "
        "runs (127.0.0.1 and [::1] only); 0: off"));
    readingServiceOriginsField = new QLineEdit(group);
    readingServiceOriginsField->setPlaceholderText(QStringLiteral("https://erp.example.com http://localhost:8000"));
    readingServiceOriginsField->setToolTip(
        QStringLiteral("The web pages that may use the service, by their origin (scheme://host:port, as the "
                       "browser's address bar shows it, without a path), separated by blanks. Programs that are "
                       "not web pages need no entry."));
    readingServiceTokenField = new QLineEdit(group);
    readingServiceTokenField->setReadOnly(true);
    readingServiceTokenField->setPlaceholderText(QStringLiteral("made when the service is switched on"));
    readingServiceTokenField->setToolTip(
        QStringLiteral("Commands (Weigh, Tare, Zero) need this token: Authorization: Bearer TOKEN, or "
                       "/readings?token=TOKEN. It is kept in %1, readable only by you.")
            .arg(output::ReadingServiceToken::path()));
    readingServiceCopyButton = new QPushButton(QStringLiteral("Copy"), group);
    readingServiceCopyButton->setToolTip(QStringLiteral("Copies the token to the clipboard"));
    readingServiceHintLabel = new QLabel(group);
    readingServiceHintLabel->setWordWrap(true);

    auto* tokenRow = new QHBoxLayout;
    tokenRow->addWidget(readingServiceTokenField, 1);
    tokenRow->addWidget(readingServiceCopyButton);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("&Port:"), readingServicePortBox);
    form->addRow(QStringLiteral("&Web pages:"), readingServiceOriginsField);
    form->addRow(QStringLiteral("Token:"), tokenRow);
    form->addRow(readingServiceHintLabel);

    connect(readingServicePortBox, &QSpinBox::valueChanged, this, [this](int port) {
        if (m_filling || m_closing)
            return;
        m_config.readingServicePort = port;
        showReadingServiceToken(port > 0);
    });
    connect(readingServiceOriginsField, &QLineEdit::editingFinished, this, [this] {
        if (m_filling || m_closing)
            return;
        m_config.readingServiceOrigins = readingServiceOriginsField->text().simplified();
        showReadingServiceToken(false);
    });
    connect(readingServiceCopyButton, &QPushButton::clicked, this, [this] {
        if (!readingServiceTokenField->text().isEmpty())
            QGuiApplication::clipboard()->setText(readingServiceTokenField->text());
    });
    return group;
}

void VudareDiVezFrame2::showReadingServiceInControls() {
    readingServicePortBox->setValue(m_config.readingServicePort);
    readingServiceOriginsField->setText(m_config.readingServiceOrigins);
    showReadingServiceToken(false);
}

void VudareDiVezFrame2::updateReadingServiceFromControls() {
    m_config.readingServicePort = readingServicePortBox->value();
    m_config.readingServiceOrigins = readingServiceOriginsField->text().simplified();
}

void VudareDiVezFrame2::showReadingServiceToken(bool create) {
    QString error;
    const QString token =
        create ? output::ReadingServiceToken::loadOrCreate(&error, &error) : output::ReadingServiceToken::load();
    readingServiceTokenField->setText(token);
    readingServiceCopyButton->setEnabled(!token.isEmpty());
    QString reason;
    if (!output::ServiceAccess::parseOrigins(readingServiceOriginsField->text(), nullptr, &reason)) {
        readingServiceHintLabel->setText(reason);
        return;
    }
    const int port = readingServicePortBox->value();
    if (!error.isEmpty())
        readingServiceHintLabel->setText(error);
    else if (port > 0)
        readingServiceHintLabel->setText(
            QStringLiteral("While Tavlo runs: ws://localhost:%1/readings, http://localhost:%1/reading and POST "
                           "http://localhost:%1/command. Try docs/examples/web/reading.html?port=%1&token=TOKEN.")
                .arg(port));
    else
        readingServiceHintLabel->setText(QStringLiteral("Off."));
}

} // namespace tavlo
