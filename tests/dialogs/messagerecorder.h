#pragma once

#include "dialogs/dialogsupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

// Collects the dialogs' messages instead of showing boxes, for its lifetime.
class MessageRecorder
{
public:
    struct Message
    {
        QWidget *parent = nullptr;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
    };

    MessageRecorder()
        : m_previous(setMessageBoxHook(
              [this](QWidget *parent, const QString &text, QMessageBox::Icon icon) {
                  m_messages.append({parent, text, icon});
              }))
    {
    }
    ~MessageRecorder() { setMessageBoxHook(std::move(m_previous)); }
    MessageRecorder(const MessageRecorder &) = delete;
    MessageRecorder &operator=(const MessageRecorder &) = delete;

    const QList<Message> &messages() const { return m_messages; }
    QStringList texts() const
    {
        QStringList out;
        for (const Message &m : m_messages)
            out.append(m.text);
        return out;
    }
    void clear() { m_messages.clear(); }

private:
    MessageBoxHook m_previous;
    QList<Message> m_messages;
};

// What a real modal box showed before it was closed.
struct SeenBox
{
    bool seen = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QString okText;
    bool modal = false;
    Qt::TextFormat format = Qt::AutoText;
};

// Watches for the next modal message box for up to timeoutMs, records it and
// presses its OK button, so a real exec() returns without a human.
inline void closeNextMessageBox(SeenBox &seen, int timeoutMs = 5000)
{
    auto *timer = new QTimer;
    const QDeadlineTimer deadline(timeoutMs);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, &seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box && !deadline.hasExpired())
            return;
        if (box) {
            seen.seen = true;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.buttons = box->standardButtons();
            seen.modal = box->isModal();
            seen.format = box->textFormat();
            if (QAbstractButton *ok = box->button(QMessageBox::Ok)) {
                seen.okText = ok->text();
                ok->click();
            } else
                box->reject();
        }
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
}
