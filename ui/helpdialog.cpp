#include "ui/helpdialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace Strobix {

const char HelpDialog::helpText[] =
    "<b>Funktionen</b><br/>\n"
    "<br/>\n"
    "<u>Start:</u><br/>\n"
    "Hier starten Sie die automatische Aktualisierung. Ihr Blitzger\u00e4t muss<br/>\n"
    "dazu mit einem geeigneten USB-Kabel an Ihrem PC angeschlossen sein.<br/>\n"
    "Ihr Computer ben\u00f6tigt eine Verbindung zum Internet. Das<br/>\n"
    "angeschlossene Ger\u00e4t wird gesucht und der Typ erkannt.<br/>\n"
    "Es folgt das Laden der Aktualisierung von der Orvane Homepage in<br/>\n"
    "Ihr Ger\u00e4t. Ist dieser Vorgang abgeschlossen, erscheint diesbez\u00fcglich<br/>\n"
    "eine Meldung. Best\u00e4tigen Sie diese mit OK.<br/>\n"
    "<br/>\n"
    "<u>Hilfe:</u><br/>\n"
    "\u00d6ffnet diese Anzeige mit dem Hilfetext.<br/>\n"
    "<br/>\n"
    "<b>Functions</b><br/>\n"
    "<br/>\n"
    "<u>Start:</u><br/>\n"
    "Here you can start the automatic update. For this purpose the<br/>\n"
    "device has to be connected to your PC by a corresponding USB<br/>\n"
    "cable. Furthermore the PC needs an access to the internet.<br/>\n"
    "The connected device is automatically searched and the type<br/>\n"
    "is detected. Then the update which is automatically downloaded<br/>\n"
    "from the Orvane homepage will be installed in your device.<br/>\n"
    "If the update is completed successfully a message will be<br/>\n"
    "displayed. Confirm with OK.<br/>\n"
    "<br/>\n"
    "<u>Help:</u><br/>\n"
    "Opens this display with the help text.<br/>\n"
    "<br/>";

HelpDialog::HelpDialog(QWidget *parent)
    : QDialog(parent)
{
    setMinimumSize(560, 200);

    auto *mainLayout = new QVBoxLayout;
    auto *scrollArea = new QScrollArea;
    auto *label = new QLabel(QString::fromUtf8(helpText));
    label->setMargin(8);
    // Not widget-resizable: the label keeps its natural size and the area scrolls it.
    scrollArea->setWidget(label);

    auto *buttonRow = new QHBoxLayout;
    auto *closeButton = new QPushButton(QStringLiteral("Schliessen / Close"));
    buttonRow->addWidget(closeButton);
    buttonRow->addStretch(0);

    mainLayout->addWidget(scrollArea);
    mainLayout->addLayout(buttonRow);
    setLayout(mainLayout);

    connect(closeButton, SIGNAL(clicked()), this, SLOT(close()));
}

} // namespace Strobix
