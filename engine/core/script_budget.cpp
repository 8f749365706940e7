#include "engine/core/script_budget.h"

#include "engine/core/limits.h"

namespace swf {

ScriptBudget::ScriptBudget() { m_clock.start(); }

void ScriptBudget::beginTick() {
    m_spentMs = 0;
    m_work = 0;
    m_workAtClockCheck = 0;
    if (m_running) m_clock.restart();
}

void ScriptBudget::enter() {
    if (m_running++ == 0) m_clock.restart();
}

void ScriptBudget::leave() {
    if (m_running == 0) return;
    if (--m_running == 0) m_spentMs += m_clock.elapsed();
}

qint64 ScriptBudget::spentMs() const { return m_spentMs + (m_running ? m_clock.elapsed() : 0); }

bool ScriptBudget::fail(const QString& why) {
    if (m_breach.isEmpty()) m_breach = why;
    return false;
}

bool ScriptBudget::chargeWork(uint64_t units) {
    if (breached()) return false;
    m_work += units;
    if (m_work > limits::kMaxScriptWorkPerTick)
        return fail(QStringLiteral("more than %1 actions in one frame").arg(limits::kMaxScriptWorkPerTick));
    if (m_work - m_workAtClockCheck >= limits::kWorkPerClockCheck) {
        m_workAtClockCheck = m_work;
        if (spentMs() > limits::kScriptBudgetMs)
            return fail(QStringLiteral("a frame's scripts ran longer than %1 ms").arg(limits::kScriptBudgetMs));
    }
    return true;
}

bool ScriptBudget::fits(size_t bytes) const {
    return bytes <= limits::kMaxScriptHeapBytes && heapBytes() <= limits::kMaxScriptHeapBytes - bytes;
}

bool ScriptBudget::chargeBytes(size_t bytes) {
    if (breached()) return false;
    if (!fits(bytes))
        return fail(QStringLiteral("the script heap would pass %1 MB").arg(limits::kMaxScriptHeapBytes >> 20));
    m_sinceBytes += bytes;
    return true;
}

bool ScriptBudget::chargeObject(size_t bytes) {
    if (breached()) return false;
    if (m_objects >= limits::kMaxScriptObjects)
        return fail(QStringLiteral("more than %1 script objects").arg(limits::kMaxScriptObjects));
    if (!chargeBytes(bytes)) return false;
    ++m_objects;
    return true;
}

void ScriptBudget::setMeasured(size_t bytes, size_t objects) {
    m_measuredBytes = bytes;
    m_sinceBytes = 0;
    m_objects = objects;
}

} // namespace swf
