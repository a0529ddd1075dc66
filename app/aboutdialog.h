#pragma once

#include <QDialog>

// The small about box: the program's name and version.
class AboutDialog final : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);
};
