#pragma once

#include <QDialog>

// The small about box: the program's name and version.
class CAboutDlg final : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget *parent = nullptr);
};
