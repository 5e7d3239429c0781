#pragma once

#include <QLabel>
#include <QString>

class QMouseEvent;

/// A label that opens its URL in the desktop's browser when clicked; used
/// for the window's logo and banner.
class UrlClickLabel : public QLabel {
    Q_OBJECT

public:
    explicit UrlClickLabel(QWidget *parent = nullptr);

    void setUrl(const QString &url);
    QString url() const { return m_Url; }

protected:
    /// Opens the URL (tolerant parsing) and consumes the event.
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString m_Url;
};
