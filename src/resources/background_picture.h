#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <future>

// A window's background: the style sheet's background colour, and over it a picture
// drawn unscaled from the top-left corner. Decoding a window-sized JPEG takes longer
// than building all the window's controls, so the picture is decoded on a thread of its
// own from the moment it is named, and the first paint takes it from there. A window that
// is made at start-up but shown only later decodes it when it is first shown instead
// (`decodedWhenShown`, named before `picture`), so as not to take the processor from the
// start-up.
class BackgroundPicture : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool decodedWhenShown READ decodedWhenShown WRITE setDecodedWhenShown)
    Q_PROPERTY(QString picture READ picture WRITE setPicture)

  public:
    explicit BackgroundPicture(QWidget* parent = nullptr);
    ~BackgroundPicture() override;

    bool decodedWhenShown() const { return decodedWhenShown_; }
    void setDecodedWhenShown(bool whenShown) { decodedWhenShown_ = whenShown; }
    QString picture() const { return path_; }
    void setPicture(const QString& path);

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void startDecoding();

    bool decodedWhenShown_ = false;
    QString path_;
    bool decoded_ = false;
    std::future<QImage> decoding_;
    QPixmap pixmap_;
};
