#include "aboutdialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

AboutDialog::AboutDialog(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Ormix 정보"));
    auto *icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/ormix/ormix.png")).pixmap(32, 32));
    auto *name = new QLabel(QStringLiteral("Ormix 버전 " ORMIX_VERSION_TEXT), this);
    name->setTextFormat(Qt::PlainText);
    auto *line = new QLabel(QStringLiteral("블로그 대시보드 알리미"), this);
    line->setTextFormat(Qt::PlainText);
    auto *ok = new QPushButton(QStringLiteral("확인"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    layout->addWidget(name, 0, 1);
    layout->addWidget(line, 1, 1);
    layout->addWidget(ok, 0, 2, Qt::AlignTop);
}
