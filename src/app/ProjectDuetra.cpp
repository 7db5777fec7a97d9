// Bramblet: two players of the game meet directly over the internet.
#include "app/ErrorBox.h"
#include "app/MessageService.h"
#include "app/Startup.h"

int main(int argc, char *argv[])
{
    bramblet::BrambletApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Bramblet"));
    QCoreApplication::setOrganizationName(QStringLiteral("Bramblet"));

    bramblet::QtMessageService messages;
    bramblet::installErrorBox(&messages);

    bramblet::MainFormServices services;
    services.messages = &messages;
    return bramblet::runStartup(app, services);
}
