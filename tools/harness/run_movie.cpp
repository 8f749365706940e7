#include "tools/harness/run_movie.h"
#include "engine/avm1/date_clock.h"
#include "engine/avm1/script_engine.h"
#include "engine/avm2/script_host.h"

#include "engine/sound/offline_mix.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace swf::harness {

namespace {

// Flash key codes of the named keys the corpus uses.
int namedKeyCode(const QString& name, uint32_t& charCode) {
    static const struct { const char* name; int code; uint32_t ch; } keys[] = {
        {"Tab", 9, 9},         {"Escape", 27, 27},  {"Enter", 13, 13},     {"Backspace", 8, 8},
        {"Space", 32, 32},     {"Delete", 46, 127}, {"Insert", 45, 0},     {"Home", 36, 0},
        {"End", 35, 0},        {"PageUp", 33, 0},   {"PageDown", 34, 0},   {"ArrowLeft", 37, 0},
        {"ArrowUp", 38, 0},    {"ArrowRight", 39, 0}, {"ArrowDown", 40, 0}, {"Shift", 16, 0},
        {"Control", 17, 0},    {"Alt", 18, 0},
    };
    for (const auto& k : keys)
        if (name == QLatin1String(k.name)) {
            charCode = k.ch;
            return k.code;
        }
    return 0;
}

// {"Char": "a"} or "Tab" -> Flash key code and character.
int keyOf(const QJsonValue& key, uint32_t& charCode) {
    charCode = 0;
    if (key.isString()) return namedKeyCode(key.toString(), charCode);
    QString ch = key.toObject().value(QStringLiteral("Char")).toString();
    if (ch.isEmpty()) return 0;
    charCode = ch.at(0).unicode();
    QChar upper = ch.at(0).toUpper();
    if (upper.isLetterOrNumber() && upper.unicode() < 128) return upper.unicode();
    static const std::pair<char16_t, int> punct[] = {{u';', 186}, {u'=', 187}, {u',', 188}, {u'-', 189},
                                                     {u'.', 190}, {u'/', 191}, {u'`', 192}, {u'[', 219},
                                                     {u'\\', 220}, {u']', 221}, {u'\'', 222}, {u' ', 32}};
    for (const auto& [c, code] : punct)
        if (ch.at(0) == QChar(c)) return code;
    return 0;
}

void apply(Player& player, const InputEvent& e, double scale) {
    double x = e.x * scale, y = e.y * scale;
    switch (e.kind) {
    case InputEvent::Kind::MouseMove: player.mouseMove(x, y); break;
    case InputEvent::Kind::MouseDown: player.mouseDown(x, y, e.button); break;
    case InputEvent::Kind::MouseUp: player.mouseUp(x, y, e.button); break;
    case InputEvent::Kind::KeyDown: player.keyDown(e.keyCode, e.charCode); break;
    case InputEvent::Kind::KeyUp: player.keyUp(e.keyCode, e.charCode); break;
    case InputEvent::Kind::TextInput: player.textInput(e.charCode); break;
    }
}

} // namespace

Result<std::vector<InputBatch>> readInputFile(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return Error{ErrorCode::FileNotFound, -1, -1, "cannot open " + path};
    QJsonParseError err;
    QJsonDocument doc = QJsonDocument::fromJson(f.read(4 << 20), &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray())
        return Error{ErrorCode::Malformed, -1, -1, path + ": not a JSON list of events"};
    std::vector<InputBatch> batches(1);
    for (const QJsonValue& v : doc.array()) {
        QJsonObject o = v.toObject();
        QString type = o.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("Wait")) {
            batches.emplace_back();
            continue;
        }
        InputEvent e;
        QJsonArray pos = o.value(QStringLiteral("pos")).toArray();
        if (pos.size() == 2) {
            e.x = pos[0].toDouble();
            e.y = pos[1].toDouble();
        }
        QString btn = o.value(QStringLiteral("btn")).toString();
        e.button = btn == QLatin1String("Right") ? MouseButton::Right
                 : btn == QLatin1String("Middle") ? MouseButton::Middle : MouseButton::Left;
        if (type == QLatin1String("MouseMove")) e.kind = InputEvent::Kind::MouseMove;
        else if (type == QLatin1String("MouseDown")) e.kind = InputEvent::Kind::MouseDown;
        else if (type == QLatin1String("MouseUp")) e.kind = InputEvent::Kind::MouseUp;
        else if (type == QLatin1String("KeyDown") || type == QLatin1String("KeyUp")) {
            e.kind = type == QLatin1String("KeyDown") ? InputEvent::Kind::KeyDown : InputEvent::Kind::KeyUp;
            e.keyCode = keyOf(o.value(QStringLiteral("key")), e.charCode);
            if (e.keyCode == 0) e.keyCode = o.value(QStringLiteral("key_code")).toInt();
        } else if (type == QLatin1String("TextInput")) {
            e.kind = InputEvent::Kind::TextInput;
            QString cp = o.value(QStringLiteral("codepoint")).toString();
            e.charCode = cp.isEmpty() ? 0 : cp.toUcs4().value(0);
        } else {
            continue;
        }
        batches.back().push_back(e);
    }
    return batches;
}

Result<RunResult> runMovie(const RunSpec& spec) {
    RunResult result;
    bool quit = false;
    int captureRequests = 0;
    HostCallbacks host;
    host.trace = [&result](const std::string& line) { result.trace += line + "\n"; };
    host.fscommand = [&](const std::string& command, const std::string&) {
        if (command == "quit") quit = true;
        else if (command == "captureImage") ++captureRequests;
    };
    if (std::getenv("SWIFTREEL_DEBUG"))
        host.log = [](LogLevel, const std::string& msg) { std::fprintf(stderr, "swf: %s\n", msg.c_str()); };

    Player player(host);
    player.setScriptHostFactory(swf::withAvm2(swf::avm1ScriptHostFactory()));
    player.setQuality(spec.quality);
    // No device: the offline mix pulls exactly one frame of sound per frame.
    if (spec.mixAudio) player.setSoundPlayer(std::make_unique<SoundPlayer>(host.log));
    auto movie = player.loadFile(spec.path);
    if (!movie) return movie.error();
    if (auto* engine = dynamic_cast<avm1::ScriptEngine*>(player.scriptHost()); engine && spec.dateNowMs)
        avm1::setDateClock(engine->vm(), {[ms = *spec.dateNowMs] { return ms; }, QTimeZone(spec.dateZoneOffsetSeconds)});
    if (auto* host = dynamic_cast<avm2::Avm2Host*>(player.scriptHost()); host && !spec.avm2DateZone.isEmpty())
        host->vm().dateZone = QTimeZone(spec.avm2DateZone);
    std::optional<OfflineMix> mix;
    if (spec.mixAudio) mix.emplace(*player.soundPlayer(), player.frameRate());

    const Rect& fr = (*movie)->header.frameSize;
    int movieW = std::max(1, (fr.width() + 10) / 20), movieH = std::max(1, (fr.height() + 10) / 20);
    QSize size = spec.size.isEmpty() ? QSize(movieW, movieH) : spec.size;
    // Input positions are window pixels, like a real pointer's: the stage's
    // own scale (show-all by default) maps them into the movie.
    double scale = 1.0;
    player.setViewport(size.width(), size.height());

    QImage image;
    auto capture = [&](uint32_t frame, bool fs) {
        player.render(image);
        result.captures.push_back(Capture{frame, fs, image.copy()});
    };
    for (uint32_t f = 1; f <= spec.frames && !quit; ++f) {
        int before = captureRequests;
        if (spec.ticks)
            player.advance(player.frameIntervalMs());
        else
            player.runFrame();
        result.framesRun = f;
        if (mix) mix->captureFrame();
        // The frame's input batch lands before the frame is captured, as the
        // reference images were taken.
        if (f - 1 < spec.input.size())
            for (const InputEvent& e : spec.input[f - 1]) apply(player, e, scale);
        if (std::find(spec.captureFrames.begin(), spec.captureFrames.end(), f) != spec.captureFrames.end())
            capture(f, false);
        if (spec.captureOnFsCommand && captureRequests > before) capture(f, true);
    }
    if (spec.captureAtEnd) capture(result.framesRun, false);
    if (mix) {
        result.audio = mix->samples();
        result.audioRate = mix->sampleRate();
    }
    return result;
}

} // namespace swf::harness
