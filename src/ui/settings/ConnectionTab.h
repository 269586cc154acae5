#pragma once

#include <QList>
#include <QWidget>

class BusyIndicator;
class ConnectionTabModel;
class FormSection;
class QLabel;
class QLineEdit;
class QPushButton;
class SwitchButton;

// The "Connection" form: the "Device" section with the custom-host switch, the host field, its
// "Test" button and outcome and the note on the default address; below it the devices found on
// the network, each with "Use". It draws the model and hands every edit and click to it.
class ConnectionTab : public QWidget
{
    Q_OBJECT

public:
    explicit ConnectionTab(ConnectionTabModel &model, QWidget *parent = nullptr);

    // The discovered hosts as drawn, one row each, in the list's order.
    QStringList shownHosts() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    struct HostRow
    {
        QString host;
        QWidget *row = nullptr;
        QPushButton *use = nullptr;
        QLabel *error = nullptr; // why "Use" stored nothing
    };

    void buildDeviceSection();
    void buildDiscoveredSection();

    void showHostSwitch();
    void showCustomHost();
    void showTest();
    void showDiscovery();
    void applyColors();

    ConnectionTabModel &m_model;
    FormSection *m_deviceSection = nullptr;
    FormSection *m_discoveredSection = nullptr;
    SwitchButton *m_hostSwitch = nullptr;
    QLineEdit *m_hostField = nullptr;
    QPushButton *m_testButton = nullptr;
    QWidget *m_testResultRow = nullptr;
    QLabel *m_testResult = nullptr;
    QLabel *m_defaultNote = nullptr;
    BusyIndicator *m_browsingIndicator = nullptr;
    QWidget *m_emptyRow = nullptr;
    QLabel *m_emptyText = nullptr;
    QList<HostRow> m_hostRows;
    QList<QLabel *> m_hostSymbols;
};
