#include "engine/avm1/clip_object.h"

#include "engine/avm1/net.h"
#include "engine/avm1/vm.h"

#include <cmath>

namespace swf::avm1 {

namespace {
const char* const kPropNames[] = {"_x", "_y", "_xscale", "_yscale", "_currentframe", "_totalframes", "_alpha",
                                  "_visible", "_width", "_height", "_rotation", "_target", "_framesloaded",
                                  "_name", "_droptarget", "_url", "_highquality", "_focusrect", "_soundbuftime",
                                  "_quality", "_xmouse", "_ymouse"};
}

int clipPropIndex(const QString& name, bool caseSensitive) {
    // Display property names ignore case in every version.
    (void)caseSensitive;
    if (name.isEmpty() || name[0] != u'_') return -1;
    for (int i = 0; i < int(ClipProp::Count); ++i)
        if (name.compare(QLatin1String(kPropNames[i]), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

const char* clipPropName(int index) {
    return index >= 0 && index < int(ClipProp::Count) ? kPropNames[index] : "";
}

ClipObject* ClipObject::rootClip() {
    ClipObject* c = this;
    for (int guard = 0; !c->lockRoot() && c->parentClip() && guard < 1000; ++guard) c = c->parentClip();
    return c;
}

Object* ClipObject::current(Vm& vm) {
    if (!removed() || m_pathWhenRemoved.isEmpty()) return this;
    auto* now = dynamic_cast<ClipObject*>(vm.resolveTarget(nullptr, m_pathWhenRemoved));
    return now && !now->removed() ? now : this;
}

QString ClipObject::targetPath() {
    QStringList names;
    ClipObject* c = this;
    for (int guard = 0; c->parentClip() && guard < 1000; ++guard) {
        names.prepend(c->instanceName());
        c = c->parentClip();
    }
    QString path = QStringLiteral("_level%1").arg(c->level());
    for (const QString& n : names) path += u'.' + n;
    return path;
}

QString ClipObject::slashPath() {
    QStringList names;
    ClipObject* c = this;
    for (int guard = 0; c->parentClip() && guard < 1000; ++guard) {
        names.prepend(c->instanceName());
        c = c->parentClip();
    }
    if (names.isEmpty()) return c->level() == 0 ? QStringLiteral("/") : QStringLiteral("_level%1").arg(c->level());
    QString path = c->level() == 0 ? QString() : QStringLiteral("_level%1").arg(c->level());
    for (const QString& n : names) path += u'/' + n;
    return path;
}

Value ClipObject::getProperty(Vm& vm, int index) {
    (void)vm;
    switch (ClipProp(index)) {
    case ClipProp::CurrentFrame: return Value(currentFrame());
    case ClipProp::TotalFrames: return Value(totalFrames());
    case ClipProp::FramesLoaded: return Value(framesLoaded());
    case ClipProp::Name: return Value(instanceName());
    case ClipProp::Target: return Value(slashPath());
    case ClipProp::Url: return Value(QString());
    case ClipProp::DropTarget: return Value(QString());
    case ClipProp::HighQuality: return Value(1);
    case ClipProp::Quality: return Value(QStringLiteral("HIGH"));
    case ClipProp::FocusRect: return Value(true);
    case ClipProp::SoundBufTime: return Value(5);
    case ClipProp::Visible: return Value(m_props[index] != 0);
    default:
        if (index >= 0 && index < int(ClipProp::Count)) return Value(m_props[index]);
        return Value();
    }
}

void ClipObject::setProperty(Vm& vm, int index, const Value& v) {
    switch (ClipProp(index)) {
    case ClipProp::Name: setInstanceName(vm.toString(v)); return;
    case ClipProp::X: case ClipProp::Y: case ClipProp::XScale: case ClipProp::YScale: case ClipProp::Alpha:
    case ClipProp::Width: case ClipProp::Height: case ClipProp::Rotation: {
        double d = vm.toNumber(v);
        if (std::isfinite(d)) m_props[index] = d;
        return;
    }
    case ClipProp::Visible: m_props[index] = vm.toBool(v) ? 1 : 0; return;
    default: return;
    }
}

bool ClipObject::getSpecial(Vm& vm, const QString& name, Value& out) {
    // A clip's own members come first, then its children, then the built-in
    // properties (a child named _x hides the clip's _x).
    if (name.isEmpty() || find(vm.key(name))) return false;
    if (Object* child = childByName(name)) { out = Value(child); return true; }
    if (name[0] == u'_') {
        int index = clipPropIndex(name, vm.caseSensitive());
        if (index >= 0) { out = getProperty(vm, index); return true; }
        if (vm.namesEqual(name, QStringLiteral("_parent"))) {
            ClipObject* p = parentClip();
            out = p ? Value(static_cast<Object*>(p)) : Value();
            return true;
        }
        if (vm.namesEqual(name, QStringLiteral("_root"))) { out = Value(static_cast<Object*>(rootClip())); return true; }
        if (vm.namesEqual(name, QStringLiteral("_lockroot"))) { out = Value(m_lockRoot); return true; }
        if (vm.namesEqual(name, QStringLiteral("_global"))) { out = Value(vm.global()); return true; }
        if (name.startsWith(QStringLiteral("_level"), vm.caseSensitive() ? Qt::CaseSensitive : Qt::CaseInsensitive)) {
            bool ok = false;
            int level = name.mid(6).toInt(&ok);
            if (ok) {
                ClipObject* c = vm.levelClip(level);
                out = c ? Value(static_cast<Object*>(c)) : Value();
                return true;
            }
        }
    }
    return false;
}

bool ClipObject::setSpecial(Vm& vm, const QString& name, const Value& v) {
    if (name.isEmpty() || name[0] != u'_') return false;
    if (vm.namesEqual(name, QStringLiteral("_lockroot"))) { m_lockRoot = vm.toBool(v); return true; }
    int index = clipPropIndex(name, vm.caseSensitive());
    if (index < 0) return false;
    setProperty(vm, index, v);
    return true;
}

bool ClipObject::hasSpecial(Vm& vm, const QString& name) {
    if (name.isEmpty()) return false;
    if (name[0] == u'_') {
        if (clipPropIndex(name, vm.caseSensitive()) >= 0) return true;
        if (vm.namesEqual(name, QStringLiteral("_parent"))) return parentClip() != nullptr;
        if (vm.namesEqual(name, QStringLiteral("_root"))) return true;
        if (vm.namesEqual(name, QStringLiteral("_lockroot"))) return true;
    }
    return childByName(name) != nullptr;
}

void ClipObject::specialKeys(Vm&, std::vector<QString>& out) { childNames(out); }

void ClipObject::loadMovie(Vm& vm, const QString& url, int method) {
    (void)method;
    loadMovieIntoClip(vm, this, url);
}

void ClipObject::loadVariables(Vm& vm, const QString& url, int method) {
    (void)method;
    loadVariablesIntoClip(vm, this, url);
}

} // namespace swf::avm1
