// The about box ("关于 Parvex") and the program's icon.
#pragma once

#include <QDialog>
#include <QIcon>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};

// The program's icon, drawn once: a reader with a card in its field.
QIcon ParvexIcon();
