#pragma once

#include "app/ConnectDialogApi.h"
#include "app/Services.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace bramblet {

// Process-wide one-byte flags shared by the start-up, the link start and the first show.
struct ProcessFlags {
    bool EnvironmentCheckPending = false;
    bool HelpBalloonPending = false;
    bool HelpBalloonActive = false;
};
ProcessFlags &processFlags();

// The main window.
class TBrambletMainForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 335;
    static constexpr int kClientHeight = 174;

    explicit TBrambletMainForm(const MainFormServices &services, QWidget *parent = nullptr);
    ~TBrambletMainForm() override;

    // Visible controls.
    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *EditRemoteIp = nullptr;
    QPushButton *ButtonServer = nullptr;
    QPushButton *ButtonClient = nullptr;

    // Non-visual components.
    QTimer *TimerBalloon = nullptr;

    // The program's one connect dialog, made in FormCreate.
    IConnectDialog *FormConnect = nullptr;

    // Fields of a link started from this window.
    std::int32_t LinkRole = 0;
    std::int32_t LaunchResult = 0;
    QString PeerRealAddress;
    QString OwnRealAddress;
    QString LocalAddress;
    std::uint16_t PeerSpeedPort = 0;
    std::uint16_t OwnSpeedPort = 0;

    void FormCreate();
    void FormClose();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    MainFormServices services_;
    std::unique_ptr<IConnectDialog> connectDialog_;
};

} // namespace bramblet
