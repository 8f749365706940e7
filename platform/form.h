#pragma once
// A top-level window of the forms layer. It has a window handle with a style
// word and a procedure chain (win32.h); without a caption in its style it is
// frameless, and with WS_THICKFRAME it draws a thin sizing frame of its own
// that hands resizing to the window manager. Inside lies the client area: a
// persistent drawing surface (an image that keeps what was painted until it
// is painted over), the windowless controls drawn above it in stacking order,
// and hosted child widgets above those.
#include "platform/controls.h"
#include "platform/menu.h"
#include "platform/pictures.h"
#include "platform/win32.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// WindowState values.
inline constexpr int vbNormal = 0;
inline constexpr int vbMinimized = 1;
inline constexpr int vbMaximized = 2;

class Form : public QWidget {
    Q_OBJECT
public:
    // The sizing frame's width in pixels.
    static constexpr int kSizingFrame = 4;
    // Style of a form stored without any frame or caption.
    static constexpr LONG_PTR kBorderlessStyle = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

    Form();
    ~Form() override;

    HWND hWnd() { return &m_record; }

    // Settings of the stored definition.
    void setClientSize(int widthPixels, int heightPixels);
    void putCaption(const QString& caption) { setWindowTitle(caption); }
    QString Caption() const { return windowTitle(); }
    void putIcon(const QIcon& icon) { setWindowIcon(icon); }
    QColor BackColor() const;

    // Outer size in twips, client size in pixels (0 x 0 while minimised).
    float Width() const;
    float Height() const;
    float ScaleWidth() const;
    float ScaleHeight() const;
    int WindowState() const;
    void putWindowState(int state);

    // Lifecycle: Load runs Form_Load once; Show loads if needed, then shows
    // the window (centred the first time); Unload runs Form_Unload and hides.
    void Load();
    bool isLoaded() const { return m_loaded; }
    void Show();
    bool Unload();

    // Drawing surface: a filled box given by two corners, and a stretched copy
    // of part of a picture. Both are clipped to the client area; the copy never
    // reads outside the picture: destination parts whose source lies beyond an
    // edge repeat that edge's pixels.
    void fillBox(float x1, float y1, float x2, float y2, const QColor& color);
    void PaintPicture(const Picture& picture, float x1, float y1, float width1, float height1, float x2, float y2,
                      float width2, float height2);
    const QImage& surface() const { return m_surface; }

    // Controls, in stacking order: the first added is the topmost.
    Image& addImage(const QString& name);
    Label& addLabel(const QString& name);
    void host(Extender& extender, QWidget* child, QRectF place);
    QWidget* clientArea() const;
    WindowlessControl* controlNamed(QStringView name) const;
    // The topmost visible windowless control at a client point, or null.
    WindowlessControl* controlAt(QPointF clientPoint) const;

    // Shows the submenu of `menu` at the pointer and runs the chosen item.
    void PopupMenu(MenuItem& menu);

    // Events of the form itself.
    virtual void Form_Load() {}
    virtual void Form_Unload(std::int16_t& Cancel) { (void)Cancel; }
    virtual void Form_Resize() {}
    virtual void Form_MouseMove(std::int16_t Button, std::int16_t Shift, float X, float Y) {
        (void)Button, (void)Shift, (void)X, (void)Y;
    }

    // Used by the win32 layer.
    void applyStyle();
    void beginCaptionMove();
    // Asks the window procedure for the size limits and applies them.
    void queryMinMaxInfo();
    int frameWidth() const;

    // Used by controls when they change.
    void controlChanged();

signals:
    void unloaded();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class ClientArea;
    friend class ClientArea;

    void raiseResize();
    void clientResized(QSize size);
    Qt::Edges edgesAt(QPoint point) const;

    WindowRecord m_record;
    ClientArea* m_client = nullptr;
    QImage m_surface;
    std::vector<std::unique_ptr<WindowlessControl>> m_controls;
    bool m_loaded = false;
    bool m_shownOnce = false;
    bool m_inMinMaxQuery = false;
    int m_frame = 0;

    // Caption move: armed by WM_NCLBUTTONDOWN, started once the pointer moves.
    bool m_moveArmed = false;
    bool m_manualMove = false;
    QPoint m_movePressGlobal;
    QPoint m_moveWindowOrigin;

    // Manual resize when the window manager does not take it.
    Qt::Edges m_manualResize;
    QPoint m_resizePressGlobal;
    QRect m_resizeStartGeometry;
};

}  // namespace platform
