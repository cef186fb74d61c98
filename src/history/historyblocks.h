#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

class SqliteStatement;
struct sqlite3;

// Sealed hours: for every address, kind, run and hour, the aggregate of its samples
// (HistoryAggregate::Pack()) in the table `blocks`, beside `samples`, so that the figures of a long
// span read a few thousand blocks rather than a million rows.
//
// Every time text has a class: its first 13 characters (substr(at_utc, 1, 13)), which for the
// file's own texts is the key of its hour ("2024-05-01T09"). Classes sort as their texts do, so a
// range of keys holds the texts of the same range, as a span's own comparisons on `at_utc` take
// them. `blocks_state` keeps the keys [from, until) that the blocks answer for: every row of a
// class there is in a block, or the class is listed in `blocks_stale` for its address and its rows
// are read instead. A block holds only rows written in the file's own form within its hour; a
// class holding any other row that a figure reads stays stale for good ("kept").
//
// Triggers on `samples` keep that true whatever writes the file: a row added, changed or removed in
// a class before `until` marks the class stale and drops its blocks (removals before `from`, the
// retention's, mark nothing). Sealing rebuilds stale classes and moves `until` on, an hour after
// another, once an hour has been over for SealDelayMs; the retention moves `from` past the hours it
// deletes (Cut()).
namespace HistoryBlocks {

// What Pack() writes; blocks of another format are dropped and built again. Change it whenever
// HistoryAggregate's packed form changes.
constexpr int Format = 3;
constexpr qint64 HourMs = 3600 * 1000;
// How long after its end an hour is sealed: late samples of the writer's own queue come before.
constexpr qint64 SealDelayMs = 5 * 60 * 1000;
// About this many rows are read in one step of Seal().
constexpr int StepRows = 50000;

// The statements of the schema step that adds the tables and triggers.
QStringList Schema();

// The key of the hour starting at `hourMs` ("2024-05-01T09"), and the hour of a key made so; false
// for any other text.
QString Key(qint64 hourMs);
bool HourOf(QByteArrayView key, qint64* hourMs);

// The keys the blocks answer for: [from, until). Not usable while none are built, when they were
// built by another format, or in a file without them (an older layout).
struct State {
  bool usable = false;
  QString from;
  QString until;
};
// SQLITE_OK or the error.
int ReadState(sqlite3* db, State* state);

enum class Step { More, Done, Failed };
// One step of sealing, in a transaction of its own: rebuilds stale classes, then seals the hours
// that ended SealDelayMs before `nowMs` (building every block of a file the first time), about
// StepRows rows at a time. More while work is left. `code` gets the SQLite error on Failed.
Step Seal(sqlite3* db, qint64 nowMs, int* code);

// Before the retention deletes the samples older than `cutoff` (a time text): the blocks of the
// hours before the cutoff's hour go, and `from` becomes that hour (the rows deleted in it mark it
// stale, so that it is sealed again with what is left). In a transaction of its own. SQLITE_OK or
// the error.
int Cut(sqlite3* db, const QString& cutoff);

// Reading a span [from, to) of time texts ("" and "~" for open ends; the sites of run `runId` only
// when it is not -1, the references whatever their run) for each of `addresses`: the blocks of the
// whole sealed hours in it go to `block` (false from it: the block is damaged) when `wants` takes
// their address and kind (all when it is empty), every other row of the span to `row`, as a
// statement of HistoryAggregate::RowColumns(). All in one read transaction, so that blocks and rows
// are of one state of the file. `covered` is false, and nothing is read, when the blocks hold no
// whole hour of the span. SQLITE_OK or the error.
using Wants = std::function<bool(QByteArrayView url, bool ref)>;
using BlockSink = std::function<bool(QByteArrayView url, bool ref, qint64 hourMs, QByteArrayView data)>;
using RowSink = std::function<void(const SqliteStatement& row)>;
int ReadSpan(sqlite3* db, const QString& from, const QString& to, qint64 runId, const QStringList& addresses,
             const Wants& wants, const BlockSink& block, const RowSink& row, bool* covered);

} // namespace HistoryBlocks
