#pragma once
// The `swf` control: a widget that hosts one engine player and exposes the
// operations the program drives (Movie, Playing, Stop, Back, Forward, Zoom,
// ScaleMode) plus the stored settings it starts with.
#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QMenu;
class QThreadPool;

class SwfControl : public QWidget {
    Q_OBJECT
public:
    // Stored settings the control starts with (the window definition's block).
    struct Settings {
        QString flashVars, movie, src;
        QString wmode = QStringLiteral("Window");
        bool play = true, loop = true;
        QString quality = QStringLiteral("High");
        QString salign;
        bool menu = true;
        QString base;
        QString allowScriptAccess = QStringLiteral("always");
        QString scale = QStringLiteral("ShowAll");
        bool deviceFont = false, embedMovie = false;
        QString bgColor, swRemote, movieData;
        bool seamlessTabbing = true, profile = false;
        QString profileAddress;
        int profilePort = 0;
        QString allowNetworking = QStringLiteral("all");
        QString allowFullScreen = QStringLiteral("false");
    };

    explicit SwfControl(QWidget* parent = nullptr);
    SwfControl(QWidget* parent, Settings settings);
    ~SwfControl() override;

    // Automation operations.
    void putMovie(const QString& pathOrUrl);
    QString movie() const;
    void putPlaying(bool playing);
    bool playing() const;
    void Stop();
    void Back();
    void Forward();
    void Zoom(int percent);
    void putScaleMode(int mode);
    int scaleMode() const;

    const Settings& settings() const;

    // Closes the movie now: its scripts end and what it stored
    // (SharedObject) is written. The program calls it before the process ends.
    void closeMovie();

    // The control's own threads for drawing frames (never Qt's global pool,
    // whose end the application waits for). A renderer may split a frame into
    // bands on it. Lives as long as the control; a frame still being drawn
    // when the control goes away finishes on its own, unwaited.
    QThreadPool& renderPool();

    // What the stored AllowNetworking value lets a movie do: "all" opens pages
    // and loads data, "internal" only loads data, "none" neither. Other values
    // count as "all", the control's default.
    enum class NetworkUse { OpenPage, LoadData };
    static bool networkingAllows(const QString& allowNetworking, NetworkUse use);

    // Where the movie's own URL requests go (the program's shell layer), when
    // AllowNetworking lets the movie open pages.
    // Receives the absolute URL and the target window name.
    void setUrlHandler(std::function<void(const QString& url, const QString& target)> handler);

    // State for tests and the program's own checks.
    bool isMovieLoaded() const;
    int currentFrame() const;   // 1-based; 0 without a movie
    int totalFrames() const;
    QImage frameImage() const;  // the last frame drawn (null before the first)
    bool isRendering() const;   // a frame is being drawn off the GUI thread
    // The player's own right-click menu (Simplified Chinese), owned by `parent`.
    QMenu* createContextMenu(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool focusNextPrevChild(bool next) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
