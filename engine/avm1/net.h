#pragma once
// Loading for scripts: text and variables fetched from the movie's own
// folder or the web, XML documents, and the helpers other built-ins share
// (StyleSheet.load reads its text through loadText).
#include "engine/avm1/vm.h"
#include "engine/display/sandbox.h"

#include <QByteArray>

#include <functional>
#include <optional>

namespace swf::avm1 {

// The native part of objects that load text (LoadVars, and XML documents,
// whose node part derives from it): bytes loaded and expected, -1 before
// any load (getBytesLoaded/Total).
struct LoadProgress : NativeState {
    double loaded = -1, total = -1;
};

// The movie whose code is running (a loaded movie has its own); the
// sandbox judges its loads and pages. Null without a movie.
const Movie* askingMovie(Vm& vm);
// That movie as the sandbox sees it (the root's address when none runs).
Asker askerOf(Vm& vm);

// XML and XMLNode on a bare Vm (installXml adds loading on top).
void installXmlClasses(Vm& vm);
// Parses `text` into the document `doc` (its old children go); returns the
// status code Flash gives (0 when well formed, -2 .. -10 for the errors).
int parseXmlInto(Vm& vm, Object* doc, const QString& text);
// The XML text of a node and its subtree.
QString xmlToString(Vm& vm, Object* node);

// Loaded bytes as script text: UTF-8 (or UTF-16 with a byte-order mark),
// except for movies before SWF 6 and with System.useCodepage, which read
// the Windows Latin code page.
QString decodeLoadedText(Vm& vm, const QByteArray& bytes);
// "a=1&b=two" into name/value pairs ('+' is a space, %XX a byte of the
// text's encoding).
std::vector<std::pair<QString, QString>> decodeVariables(Vm& vm, const QString& text);
// A value in a URL query: letters and digits stay, everything else is %XX
// of its UTF-8 bytes (or of its code page byte for SWF 5 movies).
QString urlEncode(Vm& vm, const QString& s);

// What a load produced: the text, or nothing when it could not be read.
using TextDone = std::function<void(Vm&, std::optional<QByteArray> bytes)>;
// Starts loading `url` (relative to the root movie) with GET, or POST when
// `post` is set. `done` runs on a later frame; `keepAlive` survives the
// collector until then. Returns false (and never calls `done`) when the
// player cannot load at all (no engine); a refused address still reports
// failure through `done`.
bool loadText(Vm& vm, const QString& url, TextDone done, std::vector<Object*> keepAlive,
              std::optional<QByteArray> post = std::nullopt);
// The variables of `obj` as a query ("b=2&a=1", the newest first, as
// for..in lists them). A script toString that throws stops it: check
// vm.hasException().
QString encodeVariables(Vm& vm, Object* obj);
// The LoadVars/XML protocol: loads `url` and then calls owner.onData(text),
// or owner.onData() when it failed.
bool loadForOnData(Vm& vm, Object* owner, const QString& url, std::optional<QByteArray> post = std::nullopt);

// GetURL/GetURL2 aimed at a clip or a level: loads a movie (an empty url
// unloads), or variables, into `target` ("_levelN") or `clip`.
void loadIntoTarget(Vm& vm, Object* clip, const QString& url, const QString& target, bool variables);
// MovieClip.loadMovie / loadVariables / unloadMovie on a clip object.
void loadMovieIntoClip(Vm& vm, Object* clip, const QString& url);
void loadVariablesIntoClip(Vm& vm, Object* clip, const QString& url);

} // namespace swf::avm1
