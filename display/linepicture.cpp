#include "display/linepicture.h"

#include <QPainter>

#include <utility>

#include "display/lineplot.h"

CLinePicture::CLinePicture(engine::LineReview review, int roleOffset, QSize size, QWidget* parent)
    : QWidget(parent), m_review(std::move(review)), m_nRoleOffset(roleOffset) {
    setFixedSize(size);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const QImage& CLinePicture::Image() {
    if (m_image.isNull()) m_image = CLinePlot(m_review, m_nRoleOffset, size()).Draw();
    return m_image;
}

void CLinePicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, Image());
}
