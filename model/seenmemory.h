#pragma once

#include "model/knownitems.h"

#include <QObject>
#include <QString>

#include <optional>
#include <string>

class DashboardModel;

// What Ormix knew of a blog's lists in earlier runs, for the first reading of a run to light
// what came while it was off. Kept per blog address and ID in one small JSON file in the
// user's state folder ($XDG_STATE_HOME/Ormix/seen.json, or ~/.local/state/Ormix/seen.json),
// readable by the user alone, bounded in size and written whole after each reading that
// changes it, under a lock that another copy of Ormix respects. A file that is missing,
// damaged, foreign or too large counts as empty; nothing about it stops the program, and
// what goes wrong is logged under ormix.state.
class SeenMemory final : public QObject
{
    Q_OBJECT
public:
    // Accounts kept, newest first.
    static constexpr int MaxAccounts = 4;

    explicit SeenMemory(DashboardModel &model, QString path = defaultPath(),
                        QObject *parent = nullptr);
    ~SeenMemory() override;

    static QString defaultPath();

    // Starts remembering for this blog and ID, once a login showed they are the ones in use:
    // hands the model what an earlier run knew of them, when it knows nothing itself, and
    // keeps each later reading.
    void attach(const std::string &blogUrl, const std::string &id);
    // Stops remembering (the option was switched off); the file stays as it is.
    void detach();

    // What the file says was known of blogUrl and id; none when it never saw them or cannot
    // be read.
    std::optional<KnownReading> load(const std::string &blogUrl, const std::string &id) const;

private:
    enum class Saved
    {
        Yes,
        Busy,
        Failed
    };

    void remember();
    Saved save(const KnownReading &known);

    DashboardModel &m_model;
    QString m_path;
    bool m_attached = false;
    std::string m_blogUrl;
    std::string m_id;
    // What is in the file for this account (or would be, had writing it worked); none while
    // the file has nothing of it, even empty lists.
    std::optional<KnownReading> m_saved;
    bool m_writeFailed = false;
};
