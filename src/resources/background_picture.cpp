#include "resources/background_picture.h"

#include <QPainter>
#include <QStyleOption>

BackgroundPicture::BackgroundPicture(QWidget* parent) : QWidget(parent) {}

// A picture still being decoded is waited for: the thread reads the program's resources.
BackgroundPicture::~BackgroundPicture() = default;

void BackgroundPicture::setPicture(const QString& path) {
    path_ = path;
    pixmap_ = QPixmap();
    decoded_ = false;
    decoding_ = {};
    if (!decodedWhenShown_ || isVisible())
        startDecoding();
    update();
}

void BackgroundPicture::startDecoding() {
    decoding_ = std::async(std::launch::async, [path = path_] { return QImage(path); });
}

void BackgroundPicture::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!decoded_ && !decoding_.valid() && !path_.isEmpty())
        startDecoding();
}

void BackgroundPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // The style sheet's background colour, as a plain QWidget would draw it.
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    if (!decoded_) {
        // Drawn without being shown (a grab of a hidden window): decoded here and now.
        pixmap_ = QPixmap::fromImage(decoding_.valid() ? decoding_.get() : QImage(path_));
        decoded_ = true;
    }
    painter.drawPixmap(0, 0, pixmap_);
}
