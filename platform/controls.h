#pragma once
// Windowless controls of a form (images and labels) and the extender that
// places a hosted child widget. Positions and sizes are pixel floats in the
// form's client area; the form draws and hit-tests the windowless ones in
// stacking order.
#include "platform/pictures.h"

#include <QColor>
#include <QCursor>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QPainter;

namespace platform {

class Form;

// Mouse button codes carried by the mouse events.
inline constexpr std::int16_t vbLeftButton = 1;
inline constexpr std::int16_t vbRightButton = 2;
inline constexpr std::int16_t vbMiddleButton = 4;

using MouseHandler = std::function<void(std::int16_t Button, std::int16_t Shift, float X, float Y)>;
using ClickHandler = std::function<void()>;

class WindowlessControl {
public:
    WindowlessControl(Form& form, QString name);
    virtual ~WindowlessControl() = default;
    WindowlessControl(const WindowlessControl&) = delete;
    WindowlessControl& operator=(const WindowlessControl&) = delete;

    const QString& Name() const { return m_name; }
    float Left() const { return m_rect.x(); }
    float Top() const { return m_rect.y(); }
    float Width() const { return m_rect.width(); }
    float Height() const { return m_rect.height(); }
    bool Visible() const { return m_visible; }
    const QString& ToolTipText() const { return m_toolTip; }
    const std::optional<QCursor>& MouseIcon() const { return m_cursor; }

    void putLeft(float value);
    void putTop(float value);
    // A negative size is refused and the control keeps its size.
    bool putWidth(float value);
    bool putHeight(float value);
    void putVisible(bool value);
    void putToolTipText(const QString& text) { m_toolTip = text; }
    void putMouseIcon(const QCursor& cursor) { m_cursor = cursor; }

    QRectF rect() const { return m_rect; }
    virtual void paint(QPainter& painter) const = 0;

    // Events; a missing handler means the event is not handled.
    MouseHandler MouseDown, MouseMove, MouseUp;
    ClickHandler Click, DblClick;

protected:
    void changed();

private:
    Form& m_form;
    QString m_name;
    QRectF m_rect;
    bool m_visible = true;
    QString m_toolTip;
    std::optional<QCursor> m_cursor;
};

// Shows its picture at natural size from its top-left corner, or nothing.
class Image final : public WindowlessControl {
public:
    using WindowlessControl::WindowlessControl;
    const platform::Picture& Picture() const { return m_picture; }
    void putPicture(platform::Picture picture);
    void paint(QPainter& painter) const override;

private:
    platform::Picture m_picture;
};

// One line of text on a transparent background.
class Label final : public WindowlessControl {
public:
    using WindowlessControl::WindowlessControl;
    const QString& Caption() const { return m_caption; }
    QColor ForeColor() const { return m_foreColor; }
    Qt::Alignment Alignment() const { return m_alignment; }
    void putCaption(const QString& text);
    void putForeColor(const QColor& color);
    void putAlignment(Qt::Alignment alignment);
    void paint(QPainter& painter) const override;

private:
    QString m_caption;
    QColor m_foreColor = Qt::black;
    Qt::Alignment m_alignment = Qt::AlignLeft;
};

// The container's extender for a hosted child widget: Left, Top, Width and
// Height as pixel floats. A negative size is refused and nothing changes.
class Extender {
public:
    explicit Extender(QWidget* widget = nullptr) : m_widget(widget) {}
    void attach(QWidget* widget, QRectF place);

    float Left() const { return m_place.x(); }
    float Top() const { return m_place.y(); }
    float Width() const { return m_place.width(); }
    float Height() const { return m_place.height(); }
    bool putLeft(float value);
    bool putTop(float value);
    bool putWidth(float value);
    bool putHeight(float value);

    QWidget* widget() const { return m_widget; }

private:
    void apply();
    QPointer<QWidget> m_widget;
    QRectF m_place;
};

template <class Control>
class Hosted : public Extender {
public:
    Control* operator->() const { return static_cast<Control*>(widget()); }
    Control& control() const { return *static_cast<Control*>(widget()); }
};

}  // namespace platform
