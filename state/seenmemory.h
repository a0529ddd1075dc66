#pragma once

#include "state/recentitem.h"

#include <QObject>
#include <QString>

#include <optional>
#include <string>

class DashboardModel;

// What Ormix saw of a blog in earlier runs, for the first reading of a run to light what came
// while it was off. Kept per blog address and ID in one small JSON file in the user's state
// folder ($XDG_STATE_HOME/Ormix/seen.json, or ~/.local/state/Ormix/seen.json), bounded in
// size and written atomically after each reading that changes it. A file that is missing,
// damaged, foreign or too large counts as empty; nothing about it stops the program, and
// what goes wrong is logged under ormix.state.
class SeenMemory final : public QObject
{
    Q_OBJECT
public:
    // Items kept per kind and account, and accounts kept, newest first.
    static constexpr int MaxItemsPerKind = 30;
    static constexpr int MaxAccounts = 4;

    explicit SeenMemory(DashboardModel &model, QString path = defaultPath(),
                        QObject *parent = nullptr);
    ~SeenMemory() override;

    static QString defaultPath();

    // Starts remembering for this blog and ID, once a login showed they are the ones in use:
    // hands the model what an earlier run saw of them, when it has no reading yet, and keeps
    // each later reading.
    void attach(const std::string &blogUrl, const std::string &id);
    // Stops remembering (the option was switched off); the file stays as it is.
    void detach();

    // What the file says was seen of blogUrl and id; none when it never saw them or cannot
    // be read.
    std::optional<DashboardReading> load(const std::string &blogUrl, const std::string &id) const;

private:
    void remember();
    bool save(const DashboardReading &seen);

    DashboardModel &m_model;
    QString m_path;
    bool m_attached = false;
    std::string m_blogUrl;
    std::string m_id;
    // What is in the file for this account (or would be, had writing it worked).
    DashboardReading m_seen;
    bool m_writeFailed = false;
};
