// The MIFARE Classic page (tabs "S50" and "S70").
#pragma once

#include <QWidget>

class CParvexDlg;

class CMifareCard : public QWidget {
    Q_OBJECT
public:
    explicit CMifareCard(QWidget *parent = nullptr);
    // Back pointer to the main dialog, set before the page is shown.
    CParvexDlg *m_pParent = nullptr;
};
