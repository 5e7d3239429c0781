#include "urlclicklabel.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QUrl>

UrlClickLabel::UrlClickLabel(QWidget *parent) : QLabel(parent) {}

void UrlClickLabel::setUrl(const QString &url) {
    m_Url = url;
}

void UrlClickLabel::mousePressEvent(QMouseEvent *event) {
    QDesktopServices::openUrl(QUrl(m_Url, QUrl::TolerantMode));
    event->accept();
}
