#pragma once

#include <QStringList>

class QTextStream;

// trelvin-club: sets up a club's PostgreSQL server and its operators'
// log-ins. Every command says what it did, or what failed and what to do
// next; a command run twice changes nothing the second time.
namespace ClubTool {

// Exit statuses: 0 done, 1 failed (the server or its rights), 2 wrong use.
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

// A password for a log-in: 32 letters and digits from the system's
// random source (about 190 bits).
QString newPassword();

} // namespace ClubTool
