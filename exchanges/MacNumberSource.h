#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <functional>

// Who holds a MAC number while it is reserved, for a pool's status and the record.
struct MacNumberHolder
{
    QString station;
    QString port;  // the device or COM name
    QString runId; // one run of a program; empty for the window
};

// One answer of a MAC number source.
struct MacNumberReply
{
    bool ok = false;
    int number = -1;          // the number the call was about
    int next = -1;            // the number the source gives next, after this call; -1 unknown
    bool givenBefore = false; // Check, Claim: the number had been given out already
    QString error;            // when !ok: what went wrong, naming the file or the server
};

// What a source knows of a number a unit already holds (LookUp).
struct MacNumberLookup
{
    bool ok = false;        // false: the source could not be asked; `error` says why
    bool confirmed = false; // a unit answered the number's "ma" line, with `address`
    QString state;          // the source's word for the number ("free", "void", ...); "" unknown
    QString address;        // confirmed: the address the unit answered with
    QString error;
};

// Where MAC numbers come from: the counter file of one workstation, or a pool a line of
// stations shares. It owns the rule that no number is given twice, for every program alike:
//   Take      reserves the next free number; the source moves past it at once.
//   MarkSent  its "ma" line is about to go out: from now on it counts as given, whatever
//             happens next. Called, and answered, before the line is sent.
//   GiveBack  a number that never went out; the source takes it back when that can give it to
//             no one twice (a counter file only while nobody took one since).
//   Confirm   the unit answered with an address ending in the number.
//   Void      it went out and the step failed: never given again.
//   Check     whether a number typed by the operator was given out already, and the next one
//             (a negative number asks for the next one only).
//   Claim     a typed number is about to be sent: the source moves past it when it is at or
//             above the next one (a number below stays where it is: the operator was asked).
//   LookUp    what the source knows of a number a unit already holds: a reworked unit whose
//             number is confirmed with its own address keeps it instead of using up another.
// Every call may wait (for a lock, a disk, a server), so none blocks the caller: each answers
// exactly once through `done`, on `context`'s thread from its event loop and never from inside
// the call, and not at all when `context` is gone by then. Waiting is bounded: a source that
// cannot get its lock or server within a few seconds answers with an error.
class MacNumberSource
{
public:
    using Done = std::function<void(const MacNumberReply &)>;

    virtual ~MacNumberSource() = default;

    // For messages: "MAC counter file /var/lib/…", "MAC pool postgresql://line1/tolvex".
    virtual QString Describe() const = 0;

    virtual void Take(const MacNumberHolder &holder, QObject *context, Done done) = 0;
    virtual void MarkSent(int number, QObject *context, Done done) = 0;
    virtual void GiveBack(int number, QObject *context, Done done) = 0;
    virtual void Confirm(int number, const QString &address, QObject *context, Done done) = 0;
    virtual void Void(int number, const QString &reason, QObject *context, Done done) = 0;
    virtual void Check(int number, QObject *context, Done done) = 0;
    virtual void Claim(int number, const MacNumberHolder &holder, QObject *context, Done done) = 0;

    // Whether LookUp can ever tell a confirmed number: hosts read a unit's address for it only
    // then. A counter file keeps no addresses, so with one nothing more is asked of a unit.
    virtual bool KnowsAddresses() const { return false; }
    // Answers as the calls above. A source that keeps no addresses answers "unknown": ok,
    // nothing confirmed, so the unit gets a new number as it always did.
    virtual void LookUp(int number, QObject *context,
                        std::function<void(const MacNumberLookup &)> done)
    {
        Q_UNUSED(number);
        QMetaObject::invokeMethod(
            context,
            [done] {
                MacNumberLookup unknown;
                unknown.ok = true;
                done(unknown);
            },
            Qt::QueuedConnection);
    }
};
