// The program's help window: a text browser that finds every element of a page by
// its id. Qt's rich-text engine keeps the ids of text blocks (paragraphs,
// headings) as anchors but drops those of table rows and other containers, so an
// entry written as <tr id="cmd-213"> could not be scrolled to nor linked to inside
// the window. The page is given an <a name> anchor of the same name at the start of
// the element's first text for every id it holds.
#pragma once

#include <QString>
#include <QTextBrowser>

namespace tarmic {

// The HTML text with an empty <a name="X"></a> placed at the start of the text of
// every element that carries id="X": right inside a block that holds text, or
// inside the first cell (or list item) of a table, row or list.
QString WithNamedAnchorsForIds(const QString& html);

class HelpBrowser : public QTextBrowser {
 public:
  using QTextBrowser::QTextBrowser;

 protected:
  // HTML pages are read as QTextBrowser reads them (bytes taken as UTF-8, the
  // encoding of the program's page), then given the anchors above.
  QVariant loadResource(int type, const QUrl& name) override;
};

}  // namespace tarmic
