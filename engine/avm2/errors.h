#pragma once
// The run-time error messages of the Flash player, by error number, with
// their `%1`.. places for names and values.
#include <QString>
#include <QStringList>

namespace swf::avm2 {

// The message of error `id` with its places filled; empty for an unknown number.
QString errorMessage(int id, const QStringList& params);
// The text errors carry: "Error #1009: Cannot access ...", or "Error #12" alone.
QString errorText(int id, const QStringList& params);

} // namespace swf::avm2
