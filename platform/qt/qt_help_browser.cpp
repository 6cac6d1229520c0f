#include "platform/qt/qt_help_browser.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextDocument>

namespace tarmic {

namespace {

// Elements that hold no text of their own: their anchors go into the first
// element inside them that does.
bool HoldsNoText(const QString& tag) {
  static const QSet<QString> containers = {"table", "thead", "tbody", "tfoot", "tr",
                                           "ul",    "ol",    "dl",    "colgroup"};
  return containers.contains(tag);
}

// Elements without content (an anchor after them would stand anywhere).
bool IsVoid(const QString& tag) {
  static const QSet<QString> empty = {"br", "hr", "img", "meta", "link", "col", "input", "wbr"};
  return empty.contains(tag);
}

}  // namespace

QString WithNamedAnchorsForIds(const QString& html) {
  static const QRegularExpression startTag(QStringLiteral("<([A-Za-z][A-Za-z0-9]*)(\\s[^>]*)?>"));
  static const QRegularExpression id(QStringLiteral("\\bid\\s*=\\s*\"([^\"]*)\""),
                                     QRegularExpression::CaseInsensitiveOption);
  QString out;
  out.reserve(html.size() + html.size() / 8);
  QString pending;  // anchors of containers, waiting for the first text inside them
  qsizetype copied = 0;
  for (auto it = startTag.globalMatch(html); it.hasNext();) {
    const QRegularExpressionMatch tag = it.next();
    out += QStringView(html).mid(copied, tag.capturedEnd() - copied);
    copied = tag.capturedEnd();
    const QString name = tag.captured(1).toLower();
    const QRegularExpressionMatch named = id.match(tag.captured(2));
    const QString anchor =
        named.hasMatch() ? QStringLiteral("<a name=\"%1\"></a>").arg(named.captured(1)) : QString();
    // An <a> is an anchor of its own; its pending ones wait for the text after it.
    if (HoldsNoText(name) || IsVoid(name) || name == QLatin1String("a")) {
      if (name != QLatin1String("a")) pending += anchor;
      continue;
    }
    out += pending + anchor;
    pending.clear();
  }
  out += QStringView(html).mid(copied);
  return out;
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
  QVariant data = QTextBrowser::loadResource(type, name);
  if (type != QTextDocument::HtmlResource) return data;
  if (data.userType() == QMetaType::QByteArray) return WithNamedAnchorsForIds(QString::fromUtf8(data.toByteArray()));
  if (data.userType() == QMetaType::QString) return WithNamedAnchorsForIds(data.toString());
  return data;
}

}  // namespace tarmic
