#include "platform/form.h"

#include "platform/app.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleHints>
#include <QToolTip>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <map>

namespace platform {
namespace {

std::int16_t buttonCode(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton: return vbLeftButton;
    case Qt::RightButton: return vbRightButton;
    case Qt::MiddleButton: return vbMiddleButton;
    default: return 0;
    }
}

std::int16_t heldButtons(Qt::MouseButtons buttons) {
    std::int16_t code = 0;
    if (buttons & Qt::LeftButton)
        code |= vbLeftButton;
    if (buttons & Qt::RightButton)
        code |= vbRightButton;
    if (buttons & Qt::MiddleButton)
        code |= vbMiddleButton;
    return code;
}

std::int16_t shiftState(Qt::KeyboardModifiers modifiers) {
    std::int16_t state = 0;
    if (modifiers & Qt::ShiftModifier)
        state |= 1;
    if (modifiers & Qt::ControlModifier)
        state |= 2;
    if (modifiers & Qt::AltModifier)
        state |= 4;
    return state;
}

// One axis of a stretched copy: where a stretch of source lines lands.
struct Span {
    double dst, dstLength;
    int src, srcLength;
};

// Splits a source range that may reach past the picture into the part inside
// and the parts beyond its edges, which repeat the first or last line.
std::vector<Span> axisSpans(double dst, double dstLength, double src, double srcLength, int pictureLength) {
    std::vector<Span> spans;
    if (!(srcLength > 0.0) || !(dstLength > 0.0) || pictureLength <= 0)
        return spans;
    const double scale = dstLength / srcLength;
    const double end = src + srcLength;
    if (src < 0.0)
        spans.push_back({dst, (std::min(0.0, end) - src) * scale, 0, 1});
    const double inFrom = std::max(src, 0.0);
    const double inTo = std::min(end, static_cast<double>(pictureLength));
    if (inTo > inFrom) {
        const int from = static_cast<int>(std::floor(inFrom));
        const int to = static_cast<int>(std::ceil(inTo));
        spans.push_back({dst + (inFrom - src) * scale, (inTo - inFrom) * scale, from, to - from});
    }
    if (end > pictureLength) {
        const double from = std::max(src, static_cast<double>(pictureLength));
        spans.push_back({dst + (from - src) * scale, (end - from) * scale, pictureLength - 1, 1});
    }
    return spans;
}

}  // namespace

// The client area: shows the drawing surface and the windowless controls,
// turns mouse input into the controls' events, and hosts child widgets.
class Form::ClientArea final : public QWidget {
public:
    explicit ClientArea(Form& form) : QWidget(&form), m_form(form) {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(0, 0, m_form.m_surface);
        // Bottom of the stacking order first, so the topmost is drawn last.
        for (auto it = m_form.m_controls.rbegin(); it != m_form.m_controls.rend(); ++it)
            if ((*it)->Visible())
                (*it)->paint(painter);
    }

    void resizeEvent(QResizeEvent* event) override { m_form.clientResized(event->size()); }

    bool event(QEvent* event) override {
        if (event->type() == QEvent::ToolTip) {
            auto* help = static_cast<QHelpEvent*>(event);
            const WindowlessControl* control = m_form.controlAt(help->pos());
            if (control && !control->ToolTipText().isEmpty())
                QToolTip::showText(help->globalPos(), control->ToolTipText(), this,
                                   control->rect().toAlignedRect());
            else
                QToolTip::hideText();
            return true;
        }
        return QWidget::event(event);
    }

    void mousePressEvent(QMouseEvent* event) override {
        const std::int16_t button = buttonCode(event->button());
        if (button == 0)
            return;
        WindowlessControl* target = m_form.controlAt(event->position());
        if (event->buttons() == event->button())
            m_captured = target;  // the first button down captures the pointer
        // The second press of a double-click becomes the double-click event.
        const bool isDouble = !m_lastWasDouble && button == m_lastButton && target == m_lastTarget &&
                              m_clock.isValid() &&
                              m_clock.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval() &&
                              (event->position() - m_lastPress).manhattanLength() <=
                                  QGuiApplication::styleHints()->mouseDoubleClickDistance();
        m_lastButton = button;
        m_lastTarget = target;
        m_lastPress = event->position();
        m_lastWasDouble = isDouble;
        m_pressWasDouble = isDouble;
        m_clock.restart();
        if (isDouble) {
            if (target && target->DblClick)
                target->DblClick();
            return;
        }
        if (target && target->MouseDown) {
            const QPointF local = event->position() - target->rect().topLeft();
            target->MouseDown(button, shiftState(event->modifiers()), float(local.x()), float(local.y()));
        }
    }

    // Qt delivers the second press of a double-click as a double-click
    // event; it is a press like any other here, and the press itself decides
    // whether it completes a double-click.
    void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }

    void mouseMoveEvent(QMouseEvent* event) override {
        if (m_form.m_manualMove) {
            m_form.move(event->globalPosition().toPoint() - m_form.m_moveWindowOrigin);
            return;
        }
        if (m_form.m_moveArmed) {
            if (!(event->buttons() & Qt::LeftButton)) {
                m_form.m_moveArmed = false;
            } else if ((event->globalPosition().toPoint() - m_form.m_movePressGlobal).manhattanLength() >=
                       QApplication::startDragDistance()) {
                m_form.m_moveArmed = false;
                m_captured = nullptr;
                QWindow* window = m_form.windowHandle();
                if (!window || !window->startSystemMove()) {
                    // No window manager took the move: follow the pointer here.
                    m_form.m_manualMove = true;
                    m_form.m_moveWindowOrigin = m_form.m_movePressGlobal - m_form.pos();
                    m_form.move(event->globalPosition().toPoint() - m_form.m_moveWindowOrigin);
                }
            }
            return;
        }
        WindowlessControl* target = event->buttons() != Qt::NoButton && m_captured ? m_captured
                                                                                  : m_form.controlAt(event->position());
        setCursor(target && target->MouseIcon() ? *target->MouseIcon() : QCursor(Qt::ArrowCursor));
        const std::int16_t buttons = heldButtons(event->buttons());
        const std::int16_t shift = shiftState(event->modifiers());
        if (target) {
            if (target->MouseMove) {
                const QPointF local = event->position() - target->rect().topLeft();
                target->MouseMove(buttons, shift, float(local.x()), float(local.y()));
            }
        } else {
            m_form.Form_MouseMove(buttons, shift, float(event->position().x()), float(event->position().y()));
        }
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        m_form.m_moveArmed = false;
        if (m_form.m_manualMove) {
            m_form.m_manualMove = false;
            return;
        }
        const std::int16_t button = buttonCode(event->button());
        WindowlessControl* target = m_captured ? m_captured : m_form.controlAt(event->position());
        if (event->buttons() == Qt::NoButton)
            m_captured = nullptr;
        if (!target || button == 0)
            return;
        if (target->MouseUp) {
            const QPointF local = event->position() - target->rect().topLeft();
            target->MouseUp(button, shiftState(event->modifiers()), float(local.x()), float(local.y()));
        }
        if (button == vbLeftButton && !m_pressWasDouble && target->Click &&
            m_form.controlAt(event->position()) == target)
            target->Click();
    }

    void leaveEvent(QEvent*) override { unsetCursor(); }

public:
    void forget(const WindowlessControl* control) {
        if (m_captured == control)
            m_captured = nullptr;
        if (m_lastTarget == control)
            m_lastTarget = nullptr;
    }

private:
    Form& m_form;
    WindowlessControl* m_captured = nullptr;
    WindowlessControl* m_lastTarget = nullptr;
    std::int16_t m_lastButton = 0;
    QPointF m_lastPress;
    QElapsedTimer m_clock;
    bool m_lastWasDouble = false;
    bool m_pressWasDouble = false;
};

Form::Form() : QWidget(nullptr) {
    m_record = WindowRecord{this, kBorderlessStyle, &DefWindowProcA};
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    m_client = new ClientArea(*this);  // owned by this widget
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        connect(screen, &QScreen::geometryChanged, this, [this] { queryMinMaxInfo(); });
    }
}

Form::~Form() { m_record.form = nullptr; }

QWidget* Form::clientArea() const { return m_client; }

void Form::setClientSize(int widthPixels, int heightPixels) {
    const int frame = frameWidth();
    resize(widthPixels + 2 * frame, heightPixels + 2 * frame);
}

QColor Form::BackColor() const { return QApplication::palette().color(QPalette::Button); }

float Form::Width() const { return static_cast<float>(width()) * Screen::TwipsPerPixelX(); }
float Form::Height() const { return static_cast<float>(height()) * Screen::TwipsPerPixelY(); }
float Form::ScaleWidth() const { return isMinimized() ? 0.0f : static_cast<float>(m_client->width()); }
float Form::ScaleHeight() const { return isMinimized() ? 0.0f : static_cast<float>(m_client->height()); }

int Form::WindowState() const {
    if (windowState() & Qt::WindowMinimized)
        return vbMinimized;
    if (windowState() & Qt::WindowMaximized)
        return vbMaximized;
    return vbNormal;
}

void Form::putWindowState(int state) {
    Qt::WindowStates states = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (state == vbMinimized)
        states = windowState() | Qt::WindowMinimized;  // keeps maximised for the way back
    else if (state == vbMaximized)
        states |= Qt::WindowMaximized;
    else if (state != vbNormal)
        return;
    setWindowState(states);
}

int Form::frameWidth() const {
    // A maximised window's sizing frame lies beyond the screen, as on Windows.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return 0;
    return m_frame;
}

void Form::Load() {
    if (m_loaded)
        return;
    m_loaded = true;
    Form_Load();
}

void Form::Show() {
    Load();
    if (!m_loaded)
        return;
    if (!m_shownOnce) {
        m_shownOnce = true;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), size());
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    queryMinMaxInfo();
    show();
    raise();
    activateWindow();
}

bool Form::Unload() {
    if (!m_loaded)
        return true;
    std::int16_t Cancel = 0;
    Form_Unload(Cancel);
    if (Cancel != 0)
        return false;
    m_loaded = false;
    hide();
    emit unloaded();
    return true;
}

void Form::closeEvent(QCloseEvent* event) {
    if (m_loaded && !Unload())
        event->ignore();
    else
        event->accept();
}

void Form::applyStyle() {
    const LONG_PTR style = m_record.style;
    const int oldFrame = frameWidth();
    m_frame = (style & WS_THICKFRAME) ? kSizingFrame : 0;
    Qt::WindowFlags flags = Qt::Window;
    if ((style & WS_CAPTION) != WS_CAPTION)
        flags |= Qt::FramelessWindowHint;
    if (style & WS_SYSMENU)
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (style & WS_MINIMIZEBOX)
        flags |= Qt::WindowMinimizeButtonHint;
    if (style & WS_MAXIMIZEBOX)
        flags |= Qt::WindowMaximizeButtonHint;
    const bool wasVisible = isVisible();
    const QSize client = size() - QSize(2 * oldFrame, 2 * oldFrame);
    const QPoint clientTopLeft = pos() + QPoint(oldFrame, oldFrame);
    if (windowFlags() != flags)
        setWindowFlags(flags);
    // The client area keeps its size and place; the frame grows around it.
    const int frame = frameWidth();
    setGeometry(QRect(clientTopLeft - QPoint(frame, frame), client + QSize(2 * frame, 2 * frame)));
    queryMinMaxInfo();
    update();
    if (wasVisible)
        show();
}

void Form::queryMinMaxInfo() {
    if (m_inMinMaxQuery)
        return;
    m_inMinMaxQuery = true;
    const int frame = m_frame;
    MINMAXINFO info{};
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        const QRect whole = screen->geometry();
        info.ptMaxSize = {available.width() + 2 * frame, available.height() + 2 * frame};
        info.ptMaxPosition = {-frame, -frame};
        info.ptMaxTrackSize = {whole.width() + 2 * frame + 4, whole.height() + 2 * frame + 4};
    }
    // Without a procedure of its own a window may shrink to its frame.
    info.ptMinTrackSize = {2 * frame, 2 * frame};
    SendMessageA(hWnd(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    const QSize minimum(std::clamp(info.ptMinTrackSize.x, 0, QWIDGETSIZE_MAX),
                        std::clamp(info.ptMinTrackSize.y, 0, QWIDGETSIZE_MAX));
    const QSize maximum(std::clamp(info.ptMaxTrackSize.x, minimum.width(), QWIDGETSIZE_MAX),
                        std::clamp(info.ptMaxTrackSize.y, minimum.height(), QWIDGETSIZE_MAX));
    if (minimumSize() != minimum)
        setMinimumSize(minimum);
    if (maximumSize() != maximum)
        setMaximumSize(maximum);
    m_inMinMaxQuery = false;
}

void Form::beginCaptionMove() {
    m_moveArmed = true;
    m_manualMove = false;
    m_movePressGlobal = QCursor::pos();
}

void Form::resizeEvent(QResizeEvent*) {
    const int frame = frameWidth();
    m_client->setGeometry(frame, frame, std::max(0, width() - 2 * frame), std::max(0, height() - 2 * frame));
    queryMinMaxInfo();
}

void Form::clientResized(QSize size) {
    if (size.isEmpty())
        return;
    // The surface keeps what was painted where it still fits.
    QImage surface(size, QImage::Format_RGB32);
    surface.fill(BackColor());
    if (!m_surface.isNull()) {
        QPainter painter(&surface);
        painter.drawImage(0, 0, m_surface);
    }
    m_surface = std::move(surface);
    raiseResize();
}

void Form::raiseResize() { Form_Resize(); }

void Form::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        const int frame = frameWidth();
        m_client->setGeometry(frame, frame, std::max(0, width() - 2 * frame), std::max(0, height() - 2 * frame));
        raiseResize();
        update();
    }
}

void Form::paintEvent(QPaintEvent*) {
    const int frame = frameWidth();
    if (frame == 0)
        return;
    QPainter painter(this);
    const QRect outer = rect();
    painter.fillRect(outer, QColor(0xC9, 0xD1, 0xC9));
    painter.setPen(QColor(0x7E, 0x8E, 0x7E));
    painter.drawRect(outer.adjusted(0, 0, -1, -1));
    painter.setPen(QColor(0xF2, 0xF6, 0xF2));
    painter.drawRect(outer.adjusted(1, 1, -2, -2));
}

Qt::Edges Form::edgesAt(QPoint point) const {
    const int frame = frameWidth();
    if (frame == 0)
        return {};
    // Corners are a little larger than the frame, as on most desktops.
    const int corner = frame * 4;
    Qt::Edges edges;
    if (point.x() < frame || (point.x() < corner && (point.y() < frame || point.y() >= height() - frame)))
        edges |= Qt::LeftEdge;
    if (point.x() >= width() - frame ||
        (point.x() >= width() - corner && (point.y() < frame || point.y() >= height() - frame)))
        edges |= Qt::RightEdge;
    if (point.y() < frame || (point.y() < corner && (point.x() < frame || point.x() >= width() - frame)))
        edges |= Qt::TopEdge;
    if (point.y() >= height() - frame ||
        (point.y() >= height() - corner && (point.x() < frame || point.x() >= width() - frame)))
        edges |= Qt::BottomEdge;
    return edges;
}

void Form::mousePressEvent(QMouseEvent* event) {
    const Qt::Edges edges = edgesAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !edges)
        return;
    QWindow* window = windowHandle();
    if (window && window->startSystemResize(edges))
        return;
    m_manualResize = edges;
    m_resizePressGlobal = event->globalPosition().toPoint();
    m_resizeStartGeometry = geometry();
}

void Form::mouseMoveEvent(QMouseEvent* event) {
    if (m_manualResize) {
        const QPoint delta = event->globalPosition().toPoint() - m_resizePressGlobal;
        QRect g = m_resizeStartGeometry;
        const auto clampWidth = [&](int w) { return std::clamp(w, minimumWidth(), maximumWidth()); };
        const auto clampHeight = [&](int h) { return std::clamp(h, minimumHeight(), maximumHeight()); };
        if (m_manualResize & Qt::RightEdge)
            g.setWidth(clampWidth(g.width() + delta.x()));
        if (m_manualResize & Qt::BottomEdge)
            g.setHeight(clampHeight(g.height() + delta.y()));
        if (m_manualResize & Qt::LeftEdge)
            g.setLeft(g.right() + 1 - clampWidth(g.width() - delta.x()));
        if (m_manualResize & Qt::TopEdge)
            g.setTop(g.bottom() + 1 - clampHeight(g.height() - delta.y()));
        setGeometry(g);
        return;
    }
    const Qt::Edges edges = edgesAt(event->position().toPoint());
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge))
        setCursor(Qt::SizeFDiagCursor);
    else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge))
        setCursor(Qt::SizeBDiagCursor);
    else if (edges & (Qt::LeftEdge | Qt::RightEdge))
        setCursor(Qt::SizeHorCursor);
    else if (edges & (Qt::TopEdge | Qt::BottomEdge))
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
}

void Form::mouseReleaseEvent(QMouseEvent*) { m_manualResize = {}; }

void Form::fillBox(float x1, float y1, float x2, float y2, const QColor& color) {
    if (m_surface.isNull())
        return;
    QPainter painter(&m_surface);
    painter.setClipRect(QRectF(0, 0, ScaleWidth(), ScaleHeight()));
    painter.fillRect(QRectF(QPointF(x1, y1), QPointF(x2, y2)).normalized(), color);
    m_client->update();
}

void Form::PaintPicture(const Picture& picture, float x1, float y1, float width1, float height1, float x2, float y2,
                        float width2, float height2) {
    if (m_surface.isNull() || !picture || picture->isNull())
        return;
    const auto xs = axisSpans(x1, width1, x2, width2, picture->width());
    const auto ys = axisSpans(y1, height1, y2, height2, picture->height());
    if (xs.empty() || ys.empty())
        return;
    QPainter painter(&m_surface);
    painter.setClipRect(QRectF(0, 0, ScaleWidth(), ScaleHeight()));
    for (const Span& x : xs)
        for (const Span& y : ys)
            painter.drawImage(QRectF(x.dst, y.dst, x.dstLength, y.dstLength), *picture,
                              QRectF(x.src, y.src, x.srcLength, y.srcLength));
    m_client->update();
}

Image& Form::addImage(const QString& name) {
    auto image = std::make_unique<Image>(*this, name);
    Image& ref = *image;
    m_controls.push_back(std::move(image));
    return ref;
}

Label& Form::addLabel(const QString& name) {
    auto label = std::make_unique<Label>(*this, name);
    Label& ref = *label;
    m_controls.push_back(std::move(label));
    return ref;
}

void Form::host(Extender& extender, QWidget* child, QRectF place) {
    child->setParent(m_client);
    extender.attach(child, place);
    child->show();
}

WindowlessControl* Form::controlNamed(QStringView name) const {
    for (const auto& control : m_controls)
        if (control->Name() == name)
            return control.get();
    return nullptr;
}

WindowlessControl* Form::controlAt(QPointF clientPoint) const {
    for (const auto& control : m_controls)
        if (control->Visible() && control->rect().contains(clientPoint))
            return control.get();
    return nullptr;
}

void Form::controlChanged() { m_client->update(); }

void Form::PopupMenu(MenuItem& menu) {
    if (!menu.owner)
        return;
    QMenu popup(this);
    std::map<QAction*, MenuItem*> actions;
    for (MenuItem* item : menu.owner->childrenOf(menu)) {
        if (!item->Visible)
            continue;
        if (item->isSeparator()) {
            popup.addSeparator();
            continue;
        }
        QString text = item->Caption;
        // Text after a tab is drawn at the right as the shortcut; the key
        // itself is not bound.
        if (const QString shortcut = item->shortcutText(); !shortcut.isEmpty())
            text += u'\t' + shortcut;
        QAction* action = popup.addAction(text);
        action->setObjectName(item->Name);
        action->setEnabled(item->Enabled);
        action->setCheckable(item->Checked);
        action->setChecked(item->Checked);
        actions.emplace(action, item);
    }
    QAction* chosen = popup.exec(QCursor::pos());
    if (!chosen)
        return;
    const auto it = actions.find(chosen);
    if (it != actions.end() && it->second->Click)
        it->second->Click();
}

}  // namespace platform
