#pragma once

#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <future>

// A window's background: the style sheet's background colour, and over it a picture
// drawn unscaled from the top-left corner. Decoding a window-sized JPEG takes longer
// than building all the window's controls, so the picture is decoded on a thread of its
// own from the moment it is named, and the first paint takes it from there.
class BackgroundPicture : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString picture READ picture WRITE setPicture)

  public:
    explicit BackgroundPicture(QWidget* parent = nullptr);
    ~BackgroundPicture() override;

    QString picture() const { return path_; }
    void setPicture(const QString& path);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString path_;
    std::future<QImage> decoding_;
    QPixmap pixmap_;
};
