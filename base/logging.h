#pragma once

#include <QLoggingCategory>
#include <QString>

#include <string>

// What the program tells the desktop session's journal (standard error). Quiet below
// warning (ormix.notice: below info) unless QT_LOGGING_RULES asks for more, for example
// "ormix.*=true".
// Never log the password, a form body, a cookie value or a session id.
Q_DECLARE_LOGGING_CATEGORY(lcLogin)   // ormix.login: login posts, outcomes, silent re-login
Q_DECLARE_LOGGING_CATEGORY(lcPoll)    // ormix.poll: polls, readings, recovery, resume
Q_DECLARE_LOGGING_CATEGORY(lcNetwork) // ormix.network: failed loads, reachability
Q_DECLARE_LOGGING_CATEGORY(
    lcInstance) // ormix.instance: the one running copy per settings, the display
Q_DECLARE_LOGGING_CATEGORY(lcState)  // ormix.state: what is remembered of earlier runs
Q_DECLARE_LOGGING_CATEGORY(lcReader) // ormix.reader: the page reader's starts, deadlines, ends
// ormix.notice: what was announced and sent to the desktop, by kind and count, never a text.
// Shown from info up: one line per reading that brought something is what a person asks for.
Q_DECLARE_LOGGING_CATEGORY(lcNotice)

namespace logging {

// An address as the log shows it: scheme, host, port and path; the query and the fragment,
// which may carry a session id, become "?..." and "#...".
QString safeAddress(const std::string &url);

} // namespace logging
