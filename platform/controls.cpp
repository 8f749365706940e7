#include "platform/controls.h"

#include "platform/form.h"

#include <QPainter>

#include <cmath>

namespace platform {

WindowlessControl::WindowlessControl(Form& form, QString name) : m_form(form), m_name(std::move(name)) {}

void WindowlessControl::changed() { m_form.controlChanged(); }

void WindowlessControl::putLeft(float value) {
    m_rect.moveLeft(value);
    changed();
}
void WindowlessControl::putTop(float value) {
    m_rect.moveTop(value);
    changed();
}
bool WindowlessControl::putWidth(float value) {
    if (!(value >= 0.0f))
        return false;
    m_rect.setWidth(value);
    changed();
    return true;
}
bool WindowlessControl::putHeight(float value) {
    if (!(value >= 0.0f))
        return false;
    m_rect.setHeight(value);
    changed();
    return true;
}
void WindowlessControl::putVisible(bool value) {
    m_visible = value;
    changed();
}

void Image::putPicture(platform::Picture picture) {
    m_picture = std::move(picture);
    changed();
}

void Image::paint(QPainter& painter) const {
    if (m_picture)
        painter.drawImage(QPointF(std::round(Left()), std::round(Top())), *m_picture);
}

void Label::putCaption(const QString& text) {
    m_caption = text;
    changed();
}
void Label::putForeColor(const QColor& color) {
    m_foreColor = color;
    changed();
}
void Label::putAlignment(Qt::Alignment alignment) {
    m_alignment = alignment;
    changed();
}

void Label::paint(QPainter& painter) const {
    painter.save();
    painter.setPen(m_foreColor);
    painter.setClipRect(rect());
    painter.drawText(rect(), static_cast<int>(m_alignment | Qt::AlignTop | Qt::TextSingleLine), m_caption);
    painter.restore();
}

void Extender::attach(QWidget* widget, QRectF place) {
    m_widget = widget;
    m_place = place;
    apply();
}

bool Extender::putLeft(float value) {
    if (!std::isfinite(value))
        return false;
    m_place.moveLeft(value);
    apply();
    return true;
}
bool Extender::putTop(float value) {
    if (!std::isfinite(value))
        return false;
    m_place.moveTop(value);
    apply();
    return true;
}
bool Extender::putWidth(float value) {
    if (!std::isfinite(value) || value < 0.0f)
        return false;
    m_place.setWidth(value);
    apply();
    return true;
}
bool Extender::putHeight(float value) {
    if (!std::isfinite(value) || value < 0.0f)
        return false;
    m_place.setHeight(value);
    apply();
    return true;
}

void Extender::apply() {
    if (m_widget)
        m_widget->setGeometry(m_place.toRect());
}

}  // namespace platform
