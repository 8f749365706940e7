#pragma once
// The run-time error messages of the Flash player, by error number, with
// their `%1`.. places for names and values.
#include <QString>
#include <QStringList>

namespace swf::avm2 {

QString errorMessage(int id, const QStringList& params);

} // namespace swf::avm2
