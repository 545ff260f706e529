#include "resources/background_picture.h"

#include <QPainter>
#include <QStyleOption>

BackgroundPicture::BackgroundPicture(QWidget* parent) : QWidget(parent) {}

// A picture still being decoded is waited for: the thread reads the program's resources.
BackgroundPicture::~BackgroundPicture() = default;

void BackgroundPicture::setPicture(const QString& path) {
    path_ = path;
    pixmap_ = QPixmap();
    decoding_ = std::async(std::launch::async, [path] { return QImage(path); });
    update();
}

void BackgroundPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The style sheet's background colour, as a plain QWidget would draw it.
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    if (decoding_.valid())
        pixmap_ = QPixmap::fromImage(decoding_.get());
    painter.drawPixmap(0, 0, pixmap_);
}
