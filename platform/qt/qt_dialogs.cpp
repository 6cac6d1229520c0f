#include "platform/qt/qt_dialogs.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

#include "platform/dialog_keyboard.h"
#include "platform/dialog_layout.h"
#include "platform/qt/qt_convert.h"

namespace tarmic {

// --- message boxes ------------------------------------------------------------------

// The width a box needs so that the window manager never cuts its caption: the
// caption in a bold face of the application font (title bars use one) and room for
// the title bar's icon and buttons.
namespace {
int CaptionWidth(std::string_view caption) {
  QFont font = QApplication::font();
  font.setBold(true);
  return QFontMetrics(font).horizontalAdvance(ToQString(caption)) + 160;
}

// A box never grows past the screen: a text too long for three quarters of the
// screen's height (a list of files that were not loaded) is shown read-only in a
// scrolling text view of that height, wrapped at the width Qt gives a box's text and
// anywhere inside a word longer than a line (a long path). The box's own label keeps
// the text (and gives it to text() and to Ctrl+C) but is hidden.
void ScrollLongText(QMessageBox& box, QWidget* owner) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  const int index = grid && label ? grid->indexOf(label) : -1;
  if (index < 0) return;
  const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);

  const QString text = label->text();
  const QFontMetrics fm(box.font());
  const QRect unbounded(0, 0, 100000, 100000);
  // A message box is never wider than min(screen width - 480, 1000) pixels (Qt's own
  // limit): the view, its scroll bar and the icon's column beside it stay inside it.
  const int boxLimit = std::min(room.width() - 480, 1000) - 140;
  const int width =
      std::min({fm.boundingRect(unbounded, 0, text).width(), std::max(500, room.width() / 2), std::max(300, boxLimit)}) + 8;
  const int height = fm.boundingRect(QRect(0, 0, width, 100000), Qt::TextWrapAnywhere, text).height();
  // The rest of the box: the buttons, the layout's margins and spacing, and the
  // window frame with its title bar.
  const QMargins m = grid->contentsMargins();
  QWidget* buttons = box.findChild<QWidget*>(QStringLiteral("qt_msgbox_buttonbox"));
  const int rest = m.top() + m.bottom() + 2 * std::max(0, grid->verticalSpacing()) +
                   (buttons ? buttons->sizeHint().height() : 40) + 48;
  const int maxText = room.height() * 3 / 4 - rest;
  if (height <= maxText) return;

  int row = 0, column = 0, rows = 1, columns = 1;
  grid->getItemPosition(index, &row, &column, &rows, &columns);
  auto* view = new QPlainTextEdit(&box);
  view->setObjectName(QStringLiteral("tarmic_msgbox_text"));
  view->setPlainText(text);
  view->setReadOnly(true);
  view->setFrameShape(QFrame::NoFrame);
  view->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view->viewport()->setAutoFillBackground(false);  // on the box's own background
  const int bar = view->verticalScrollBar()->sizeHint().width();
  view->setMinimumSize(width + bar + 2 * view->frameWidth(), std::max(maxText, 100));
  grid->removeWidget(label);
  label->hide();
  grid->addWidget(view, row, column, rows, columns);
}
}  // namespace

int ShowMessageBox(QWidget* owner, std::string_view text, std::string_view caption,
                   unsigned style) {
  QMessageBox box(owner);
  box.setWindowTitle(ToQString(caption));
  box.setText(DisplayText(text));
  box.setTextFormat(Qt::PlainText);
  switch (style & MB_ICONMASK) {
    case MB_ICONSTOP: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
  }
  // The result when the box is closed without a button: the answer that does nothing.
  int closedResult = IDOK;
  switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setDefaultButton(DefaultButtonResult(style) == IDCANCEL ? QMessageBox::Cancel
                                                                  : QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Cancel);
      closedResult = IDCANCEL;
      break;
    case MB_YESNO:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(DefaultButtonResult(style) == IDNO ? QMessageBox::No
                                                              : QMessageBox::Yes);
      // Closing a Yes/No box (Esc, the frame's close button) answers neither: a hidden
      // Cancel button takes the close, so a chain of questions can stop there.
      box.addButton(QMessageBox::Cancel)->hide();
      box.setEscapeButton(QMessageBox::Cancel);
      closedResult = IDCANCEL;
      break;
    case MB_YESNOCANCEL:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      switch (DefaultButtonResult(style)) {
        case IDCANCEL: box.setDefaultButton(QMessageBox::Cancel); break;
        case IDNO: box.setDefaultButton(QMessageBox::No); break;
        default: box.setDefaultButton(QMessageBox::Yes); break;
      }
      box.setEscapeButton(QMessageBox::Cancel);
      closedResult = IDCANCEL;
      break;
    default:
      box.setStandardButtons(QMessageBox::Ok);
      box.setDefaultButton(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
      break;
  }
  // A message box sizes itself by its text; a spacer across its grid keeps it as
  // wide as its caption.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(CaptionWidth(caption), 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
  ScrollLongText(box, owner);
  box.exec();
  switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return closedResult;
  }
}

std::optional<std::string> AskText(QWidget* owner, std::string_view caption,
                                   std::string_view prompt, std::string_view initial) {
  QInputDialog dialog(owner);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(ToQString(caption));
  dialog.setLabelText(DisplayText(prompt));
  dialog.setTextValue(ToQString(initial));
  // The dialog's layout fixes its size from its contents: the prompt's label keeps
  // it as wide as the caption.
  if (QLabel* label = dialog.findChild<QLabel*>()) {
    const QMargins m = dialog.layout() ? dialog.layout()->contentsMargins() : QMargins();
    label->setMinimumWidth(CaptionWidth(caption) - m.left() - m.right());
  }
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return FromQString(dialog.textValue());
}

// --- file dialogs ------------------------------------------------------------------

QString ToQtFilter(std::string_view filter) {
  QStringList parts = ToQString(filter).split(QChar('|'));
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i].trimmed();
    QStringList patterns;
    for (const QString& p : parts[i + 1].split(QChar(';'), Qt::SkipEmptyParts)) {
      QString pattern = p.trimmed();
      if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
      if (!pattern.isEmpty()) patterns << pattern;
    }
    if (description.isEmpty() && patterns.isEmpty()) continue;
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    // Qt reads the patterns from the last parentheses: a description that shows its
    // own patterns in parentheses loses them, so they are not shown twice.
    if (description.endsWith(QChar(')'))) {
      qsizetype open = description.lastIndexOf(QChar('('));
      if (open >= 0) description = description.left(open).trimmed();
    }
    if (description.isEmpty()) description = patterns.join(QChar(' '));
    out << description + QStringLiteral(" (") + patterns.join(QChar(' ')) + QChar(')');
  }
  return out.join(QStringLiteral(";;"));
}

namespace {

// File dialogs open at the size the user last left one at, kept in the program's
// configuration directory; at first at two thirds of the screen, at least 900 x 600
// where the screen has room (Qt's own default cuts the columns of a list of scans).
QString FileDialogSettingsPath() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
         QStringLiteral("/tarmic/filedialog.ini");
}

void SizeFileDialog(QFileDialog& dialog, QWidget* owner) {
  const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  const QSize room = screen ? screen->availableGeometry().size() : QSize(1024, 768);
  QSize size = QSettings(FileDialogSettingsPath(), QSettings::IniFormat).value("size").toSize();
  if (!size.isValid() || size.width() < 200 || size.height() < 150) {
    size = QSize(std::max(900, room.width() * 2 / 3), std::max(600, room.height() * 2 / 3));
  }
  dialog.resize(size.boundedTo(room));
}

void RememberFileDialogSize(const QFileDialog& dialog) {
  QSettings settings(FileDialogSettingsPath(), QSettings::IniFormat);
  settings.setValue("size", dialog.size());
}

}  // namespace

std::vector<std::string> AskOpenFiles(QWidget* owner, const FileDialogOptions& options) {
  QFileDialog dialog(owner, ToQString(options.title), PathToQString(options.directory),
                     ToQtFilter(options.filter));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(options.multiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  SizeFileDialog(dialog, owner);
  std::vector<std::string> files;
  const int result = dialog.exec();
  RememberFileDialogSize(dialog);
  if (result != QDialog::Accepted) return files;
  for (const QString& f : dialog.selectedFiles()) files.push_back(PathFromQString(f));
  return files;
}

std::optional<std::string> AskSaveFile(QWidget* owner, const FileDialogOptions& options) {
  QString start = PathToQString(options.directory);
  if (!options.defaultName.empty()) {
    QString name = PathToQString(options.defaultName);
    start = start.isEmpty() ? name : QDir(start).filePath(name);
  }
  QFileDialog dialog(owner, ToQString(options.title), start, ToQtFilter(options.filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // The program asks its own questions before it overwrites a file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  QString ext = ToQString(options.defaultExt);
  while (ext.startsWith(QChar('.'))) ext.remove(0, 1);
  if (!ext.isEmpty() && !ext.contains(QChar('*'))) dialog.setDefaultSuffix(ext);
  SizeFileDialog(dialog, owner);
  const int result = dialog.exec();
  RememberFileDialogSize(dialog);
  if (result != QDialog::Accepted) return std::nullopt;
  QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return PathFromQString(chosen.front());
}

std::optional<std::string> AskFolder(QWidget* owner, const FileDialogOptions& options) {
  QFileDialog dialog(owner, ToQString(options.title), PathToQString(options.directory));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  SizeFileDialog(dialog, owner);
  const int result = dialog.exec();
  RememberFileDialogSize(dialog);
  if (result != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return PathFromQString(chosen.front());
}

// --- template dialogs -----------------------------------------------------------------

namespace {

// The label of a static text: "&&" is an ampersand, a single '&' marks a mnemonic.
QString StaticText(const std::string& label) {
  QString in = DisplayText(label);
  QString out;
  for (qsizetype i = 0; i < in.size(); ++i) {
    if (in[i] == QChar('&')) {
      if (i + 1 < in.size() && in[i + 1] == QChar('&')) {
        out += QChar('&');
        ++i;
      }
      continue;
    }
    out += in[i];
  }
  return out;
}

// The measures of the dialog's font, and the room its edit fields need besides
// their text: the style's frame, the line edit's inner margin of 2 pixels on each
// side and the cursor.
DialogFontMeasures TemplateDialogFont(const QDialog& box, QWidget* owner) {
  const QFontMetricsF fm(box.font());
  DialogFontMeasures m;
  m.textWidth = [fm](std::string_view s) { return fm.horizontalAdvance(ToQString(s)); };
  m.averageCharWidth = AverageCharWidth(m.textWidth);
  m.charHeight = fm.height();
  QLineEdit probe;
  probe.setFont(box.font());
  const int frame = probe.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &probe);
  const QMargins text = probe.textMargins();
  m.editPadding = 2.0 * frame + 2.0 * 2.0 + text.left() + text.right() + 2.0;
  const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen) m.maxDialogWidth = screen->availableGeometry().width() * 9 / 10;
  return m;
}

// Ctrl+C on an edit field whose whole text is selected copies the exact value the
// program gave the field while the field still shows the text it opened with: the
// field shows fewer digits than the value has.
class ExactCopy : public QObject {
 public:
  ExactCopy(QLineEdit* edit, QString opened, QString exact)
      : QObject(edit), edit_(edit), opened_(std::move(opened)), exact_(std::move(exact)) {
    edit->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched != edit_ || e->type() != QEvent::KeyPress) return false;
    if (!static_cast<QKeyEvent*>(e)->matches(QKeySequence::Copy)) return false;
    if (edit_->text() != opened_ || edit_->selectedText() != edit_->text() || edit_->text().isEmpty())
      return false;
    QGuiApplication::clipboard()->setText(exact_);
    return true;
  }

 private:
  QLineEdit* edit_;
  QString opened_;
  QString exact_;
};

// The frame and title bar a window manager adds around a dialog, at most.
constexpr int kDialogFrameWidth = 16;
constexpr int kDialogFrameHeight = 48;

std::optional<QSize> g_roomForTesting;

}  // namespace

void SetDialogRoomForTesting(std::optional<QSize> room) { g_roomForTesting = room; }

QSize DialogRoom(QWidget* owner) {
  if (g_roomForTesting) return *g_roomForTesting;
  const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry().size() : QSize(1024, 768);
}

int RunTemplateDialog(QWidget* owner, const DialogTemplate& dialog, TransferBuffer& buffer) {
  QDialog box(owner);
  box.setWindowTitle(ToQString(dialog.caption));
  const DialogPixelLayout layout = LayOutDialog(dialog, buffer, TemplateDialogFont(box, owner));
  // A dialog taller or wider than the screen (a small screen, a large scale) shows
  // its controls in a scrolling area that fits the screen, its frame and title
  // included; the area follows the focus, so that the keyboard reaches every field.
  const QSize room = DialogRoom(owner);
  const QSize frame(kDialogFrameWidth, kDialogFrameHeight);
  QWidget* parent = &box;
  QScrollArea* area = nullptr;
  if (layout.client.cx > room.width() - frame.width() || layout.client.cy > room.height() - frame.height()) {
    area = new QScrollArea(&box);
    area->setFrameShape(QFrame::NoFrame);
    // The fields take the focus, not the area around them.
    area->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget;
    content->setFixedSize(layout.client.cx, layout.client.cy);
    area->setWidget(content);
    const int bar = box.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area);
    const QSize shown(std::max(1, std::min(layout.client.cx + bar, room.width() - frame.width())),
                      std::max(1, std::min(layout.client.cy + bar, room.height() - frame.height())));
    box.setFixedSize(shown);
    area->setGeometry(0, 0, shown.width(), shown.height());
    parent = content;
    QObject::connect(qApp, &QApplication::focusChanged, area, [area, content](QWidget*, QWidget* now) {
      if (now && content->isAncestorOf(now)) area->ensureWidgetVisible(now);
    });
  } else {
    box.setFixedSize(layout.client.cx, layout.client.cy);
  }

  std::map<int, QLineEdit*> edits;
  std::map<int, QAbstractButton*> toggles;  // check boxes and radio buttons
  std::map<int, QButtonGroup*> groups;
  std::vector<QGroupBox*> frames;

  for (std::size_t index = 0; index < dialog.controls.size(); ++index) {
    const DialogControl& c = dialog.controls[index];
    QWidget* widget = nullptr;
    switch (c.kind) {
      case ControlKind::Edit: {
        auto* edit = new QLineEdit(parent);
        auto it = buffer.text.find(c.id);
        if (it != buffer.text.end()) edit->setText(ToQString(it->second));
        if (auto exact = buffer.exactText.find(c.id); exact != buffer.exactText.end())
          new ExactCopy(edit, edit->text(), ToQString(exact->second));
        edits[c.id] = edit;
        widget = edit;
        break;
      }
      case ControlKind::CheckBox:
      case ControlKind::RadioButton: {
        QAbstractButton* button = nullptr;
        if (c.kind == ControlKind::CheckBox) {
          button = new QCheckBox(ToQString(c.label), parent);
        } else {
          auto* radio = new QRadioButton(ToQString(c.label), parent);
          // Radio buttons are exclusive within their group only.
          radio->setAutoExclusive(false);
          QButtonGroup*& group = groups[c.group];
          if (!group) {
            group = new QButtonGroup(&box);
            group->setExclusive(true);
          }
          group->addButton(radio);
          button = radio;
        }
        auto it = buffer.checked.find(c.id);
        if (it != buffer.checked.end()) button->setChecked(it->second);
        toggles[c.id] = button;
        widget = button;
        break;
      }
      case ControlKind::Static: {
        auto* label = new QLabel(StaticText(c.label), parent);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
      }
      case ControlKind::PushButton: {
        auto* button = new QPushButton(ToQString(c.label), parent);
        if (c.id == IDOK) {
          QObject::connect(button, &QPushButton::clicked, &box, &QDialog::accept);
        } else if (c.id == IDCANCEL) {
          QObject::connect(button, &QPushButton::clicked, &box, &QDialog::reject);
        } else if (c.id > IDOK) {
          // Any other button ends the dialog with its own id (its answer), apart from
          // closing, which rejects (IDCANCEL).
          const int id = c.id;
          QObject::connect(button, &QPushButton::clicked, &box, [&box, id] { box.done(id); });
        }
        button->setAutoDefault(false);
        if (c.isDefault) button->setDefault(true);
        widget = button;
        break;
      }
      case ControlKind::GroupBox: {
        auto* frame = new QGroupBox(StaticText(c.label), parent);
        frames.push_back(frame);
        widget = frame;
        break;
      }
    }
    if (widget) {
      widget->setObjectName(QStringLiteral("control%1").arg(c.id));
      widget->setGeometry(ToQRect(layout.controls[index]));
      if (static_cast<int>(index) == InitialFocusIndex(dialog)) {
        // The first control has the focus as the dialog opens; an edit field there
        // is selected whole, as Tab selects one, so that typing replaces its value.
        widget->setFocus(Qt::TabFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) edit->selectAll();
      }
    }
  }
  // Group boxes are frames drawn behind the controls they surround.
  for (QGroupBox* frame : frames) frame->lower();

  const int result = box.exec();
  if (result == QDialog::Rejected) return IDCANCEL;
  if (result != QDialog::Accepted) return result;  // a button of its own answer
  for (const auto& [id, edit] : edits) buffer.text[id] = FromQString(edit->text());
  for (const auto& [id, button] : toggles) buffer.checked[id] = button->isChecked();
  return IDOK;
}

}  // namespace tarmic
