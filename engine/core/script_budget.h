#pragma once
// What one movie's scripts may spend, whichever script engine runs them:
// heap bytes and objects, and time and work per player tick. The engine
// charges it where it makes things and where it loops; the first breach is
// kept, and the engine halts that movie's scripts. One per virtual machine.
#include <QElapsedTimer>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace swf {

class ScriptBudget {
public:
    ScriptBudget();

    // A new player tick (a frame or one input event): time and work start again.
    void beginTick();
    // Script code starts or stops running; only the time in between counts,
    // so a tick's budget is not spent by the host's own work between scripts.
    void enter();
    void leave();

    // Counts `units` of work (one action, or elements a built-in walks);
    // reads the clock every limits::kWorkPerClockCheck units. False once breached.
    bool chargeWork(uint64_t units = 1);
    // Asks for `bytes` more heap before allocating them. False (breached)
    // when the heap would pass its limit.
    bool chargeBytes(size_t bytes);
    // One new object of about `bytes`.
    bool chargeObject(size_t bytes);
    // Whether `bytes` more would stay within the heap limit (nothing charged).
    bool fits(size_t bytes) const;
    // What the heap holds now (measured by walking it): counts restart from here.
    void setMeasured(size_t bytes, size_t objects);
    // Bytes charged since the heap was last measured: a measurement may find
    // them already freed.
    size_t bytesSinceMeasure() const { return m_sinceBytes; }
    size_t heapBytes() const { return m_measuredBytes + m_sinceBytes; }
    size_t objects() const { return m_objects; }

    // The first breach, in words for the warning; empty while within budget.
    bool breached() const { return !m_breach.isEmpty(); }
    const QString& breach() const { return m_breach; }

private:
    bool fail(const QString& why);
    qint64 spentMs() const;

    QElapsedTimer m_clock;
    qint64 m_spentMs = 0; // in scripts this tick, before the current run
    int m_running = 0;    // nesting of enter()
    uint64_t m_work = 0;
    uint64_t m_workAtClockCheck = 0;
    size_t m_measuredBytes = 0;
    size_t m_sinceBytes = 0;
    size_t m_objects = 0;
    QString m_breach;
};

// Runs script code for the lifetime of the guard (budget enter/leave).
class ScriptRun {
public:
    explicit ScriptRun(ScriptBudget& b) : m_budget(b) { m_budget.enter(); }
    ~ScriptRun() { m_budget.leave(); }
    ScriptRun(const ScriptRun&) = delete;
    ScriptRun& operator=(const ScriptRun&) = delete;

private:
    ScriptBudget& m_budget;
};

} // namespace swf
