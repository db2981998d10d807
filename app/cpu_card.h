// The CPU card page (tab "CPU").
#pragma once

#include <QWidget>

class CParvexDlg;

class CCPUCard : public QWidget {
    Q_OBJECT
public:
    explicit CCPUCard(QWidget *parent = nullptr);
    // Back pointer to the main dialog, set before the page is shown.
    CParvexDlg *m_pParent = nullptr;
};
