#include "TFlatListBoxUnit.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>

// ---------------------------------------------------------------- strings

namespace {

// The locale's order, letter case ignored.
bool SortsBefore(const QString& a, const QString& b)
{
    return QString::localeAwareCompare(a.toLower(), b.toLower()) < 0;
}

QString TrimmedEntry(const QString& s)
{
    qsizetype first = 0, last = s.size();
    while (first < last && s[first].unicode() <= ' ')
        ++first;
    while (last > first && s[last - 1].unicode() <= ' ')
        --last;
    return s.mid(first, last - first);
}

// The timer shared by every list box, and the box its ticks go to.
struct SharedScrollTimer {
    QTimer* timer = nullptr;
    TFlatListBox* target = nullptr;
    int boxes = 0;
};

SharedScrollTimer& Shared()
{
    static SharedScrollTimer shared;
    return shared;
}

}  // namespace

QStringList TFlatStrings::List() const
{
    if (!row_)
        return items_;
    QStringList rows;
    rows.reserve(provided_);
    for (int i = 0; i < provided_; ++i)
        rows << row_(i);
    return rows;
}

int TFlatStrings::IndexOf(const QString& item) const
{
    if (!row_)
        return static_cast<int>(items_.indexOf(item));
    for (int i = 0; i < provided_; ++i)
        if (row_(i) == item)
            return i;
    return -1;
}

void TFlatStrings::KeepAsStrings()
{
    if (!row_)
        return;
    items_ = List();
    row_ = nullptr;
    provided_ = 0;
}

int TFlatStrings::Add(const QString& item)
{
    KeepAsStrings();
    if (!sorted_) {
        items_.append(item);
        Changed();
        return Count() - 1;
    }
    const auto at = std::lower_bound(items_.begin(), items_.end(), item, SortsBefore);
    if (at != items_.end() && at->compare(item, Qt::CaseInsensitive) == 0)
        return static_cast<int>(at - items_.begin());  // duplicates are ignored
    const auto index = static_cast<int>(at - items_.begin());
    items_.insert(index, item);
    Changed();
    return index;
}

void TFlatStrings::Insert(int index, const QString& item)
{
    KeepAsStrings();
    items_.insert(std::clamp(index, 0, Count()), item);
    Changed();
}

void TFlatStrings::Delete(int index)
{
    if (index < 0 || index >= Count())
        return;
    KeepAsStrings();
    items_.removeAt(index);
    Changed();
}

void TFlatStrings::Clear()
{
    items_.clear();
    row_ = nullptr;
    provided_ = 0;
    Changed();
}

void TFlatStrings::Assign(const QStringList& items)
{
    AsOneChange([&] {
        Clear();
        for (const auto& item : items)
            Add(item);
    });
}

void TFlatStrings::Provide(int count, std::function<QString(int)> row)
{
    AsOneChange([&] {
        Clear();
        if (sorted_) {
            for (int i = 0; i < count; ++i)
                Add(row(i));
        } else if (count > 0) {
            provided_ = count;
            row_ = std::move(row);
        }
    });
}

void TFlatStrings::AsOneChange(const std::function<void()>& change)
{
    const auto notify = std::move(OnChange);
    OnChange = nullptr;
    change();
    OnChange = notify;
    Changed();
}

void TFlatStrings::SetSorted(bool v)
{
    if (v == sorted_)
        return;
    sorted_ = v;
    if (v) {
        KeepAsStrings();
        std::stable_sort(items_.begin(), items_.end(), SortsBefore);
        Changed();
    }
}

void TFlatStrings::Changed()
{
    if (OnChange)
        OnChange();
}

// ---------------------------------------------------------------- list box

TFlatListBox::TFlatListBox(QWidget* parent) : QWidget(parent), TFlatColors(this)
{
    AddDerivedColor(&colors_[1], &advColorBorder_, darken);
    SharedScrollTimer& shared = Shared();
    if (shared.timer == nullptr) {
        shared.timer = new QTimer;
        shared.timer->setInterval(600);
        QObject::connect(shared.timer, &QTimer::timeout, [] {
            if (Shared().target != nullptr)
                Shared().target->ScrollTick();
        });
    }
    ++shared.boxes;
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(TabStopPolicy(true));
    items_.OnChange = [this] { ItemsChanged(); };
    resize(137, 99);
    RebuildRows();
}

// The shared timer stays for the boxes that remain; it goes with the last.
TFlatListBox::~TFlatListBox()
{
    SharedScrollTimer& shared = Shared();
    if (shared.target == this) {
        shared.timer->stop();
        shared.target = nullptr;
    }
    if (--shared.boxes == 0) {
        delete shared.timer;
        shared.timer = nullptr;
    }
}

QTimer* TFlatListBox::ScrollTimer() { return Shared().timer; }

void TFlatListBox::SetTransparentMode(TTransparentMode v)
{
    transparentMode_ = v;
    update();
}

void TFlatListBox::SetItems(QStringList& items)
{
    if (items.size() > 256)
        return;
    for (auto& entry : items)
        entry = TrimmedEntry(entry);
    items_.Assign(items);
    update();
}

void TFlatListBox::SetItemList(const QStringList& items)
{
    QStringList copy = items;
    SetItems(copy);
}

// A box that holds items never looks empty: when they shrink or are replaced,
// the first visible row comes back within them.
void TFlatListBox::ItemsChanged()
{
    topIndex_ = std::max(0, std::min(topIndex_, items_.Count() - visibleRows_));
    if (!isEnabled()) {
        update();
        return;  // a disabled box keeps its selection
    }
    selection_.clear();
    anchor_ = -1;
    update();
}

void TFlatListBox::SetItemHeight(int v)
{
    itemHeight_ = std::max(1, v);
    snapping_ = true;
    resize(width(), (itemHeight_ + 2) * visibleRows_ + Margins());
    snapping_ = false;
    RebuildRows();
}

void TFlatListBox::SetMultiSelect(bool v)
{
    multiSelect_ = v;
    if (v)
        itemIndex_ = 0;
}

void TFlatListBox::SetScrollBars(bool v)
{
    if (v == scrollBars_)
        return;
    scrollBars_ = v;
    snapping_ = true;
    resize(width(), height() + (v ? 20 : -20));
    snapping_ = false;
    RebuildRows();
}

void TFlatListBox::SetColorByIndex(int index, TColor v)
{
    colors_[index] = v;
    update();
}

void TFlatListBox::SetAdvColorBorder(int v)
{
    StoreAdvColor(advColorBorder_, v);
    update();
}

void TFlatListBox::SetSorted(bool v)
{
    if (v == items_.Sorted())
        return;
    items_.SetSorted(v);
    selection_.clear();
    update();
}

void TFlatListBox::SetItemIndex(int v)
{
    if (v == itemIndex_)
        return;
    itemIndex_ = v;
    if (multiSelect_) {
        SetSelected(v, !Selected(v));
    } else {
        selection_.clear();
        SetSelected(v, true);
    }
    update();
}

void TFlatListBox::SetSelected(int index, bool on)
{
    if (index < 0)
        return;
    if (std::size_t(index) >= selection_.size()) {
        if (!on)
            return;
        selection_.resize(std::size_t(std::max(index + 1, items_.Count())));
    }
    selection_[std::size_t(index)] = on;
}

void TFlatListBox::SelectRange(int from, int to)
{
    for (int i = std::min(from, to); i <= std::max(from, to); ++i)
        SetSelected(i, true);
}

int TFlatListBox::SelectedCount() const
{
    int count = 0;
    for (int i = 0; i < items_.Count(); ++i)
        count += Selected(i) ? 1 : 0;
    return count;
}

void TFlatListBox::SelectAll()
{
    selection_.assign(std::size_t(items_.Count()), true);
    update();
}

void TFlatListBox::SelectionChanged()
{
    update();
    if (OnSelectionChange)
        OnSelectionChange(this);
}

void TFlatListBox::RebuildRows()
{
    rowRects_.clear();
    visibleRows_ = std::max(0, RowsFor(height()));
    int top = scrollBars_ ? 13 : 3;
    for (int r = 0; r < visibleRows_; ++r) {
        rowRects_.emplace_back(QPoint(3, top), QPoint(width() - 3 - 1, top + itemHeight_ - 1));
        top += itemHeight_ + 2;
    }
    update();
}

// The height is always a whole number of rows plus the fixed margins.
void TFlatListBox::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (!snapping_) {
        const int snapped = (itemHeight_ + 2) * std::max(0, RowsFor(height())) + Margins();
        if (snapped != height()) {
            snapping_ = true;
            resize(width(), snapped);
            snapping_ = false;
        }
    }
    RebuildRows();
}

// ---------------------------------------------------------------- painting

void TFlatListBox::paintEvent(QPaintEvent*)
{
    ComposeOffscreen(this, [this](QPainter& painter) {
        PaintBackground(painter);
        DrawBevelFrame(painter, rect(), colors_[1], colors_[1], 1);
        if (scrollBars_)
            PaintBands(painter);
        PaintRows(painter);
        if (hasFocus())
            PaintFocus(painter);
    });
}

void TFlatListBox::PaintBackground(QPainter& painter)
{
    const bool opaque = transparentMode_ == tmNone || (transparentMode_ == tmNotFocused && hasFocus());
    if (opaque)
        painter.fillRect(rect(), ToQColor(colors_[2]));
    else
        PaintParentBackground(this, painter);
}

namespace {

void Triangle(QPainter& painter, QPoint a, QPoint b, QPoint c, const QColor& color)
{
    painter.setPen(color);
    painter.setBrush(color);
    const QPoint points[3] = {a, b, c};
    painter.drawPolygon(points, 3);
}

// An active arrow in `active`; an inactive one grey over a white copy one
// pixel down-right. `dir` is -1 for an arrow pointing up, +1 for down.
void Arrow(QPainter& painter, int h, int baseY, int dir, bool isActive, const QColor& active)
{
    if (!isActive)
        Triangle(painter, {h - 1, baseY + 1}, {h + 3, baseY + 1}, {h + 1, baseY + 1 + 2 * dir}, Qt::white);
    Triangle(painter, {h - 2, baseY}, {h + 2, baseY}, {h, baseY + 2 * dir},
             isActive ? active : QColor(128, 128, 128));
}

}  // namespace

void TFlatListBox::PaintBands(QPainter& painter)
{
    const int w = width(), h = height();
    const QColor band = ToQColor(Color());
    for (const QRect r : {QRect(0, 0, w, 11), QRect(0, h - 11, w, 11)}) {
        painter.fillRect(r, band);
        DrawBevelFrame(painter, r, colors_[1], colors_[1], 1);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QColor arrow = ToQColor(colors_[0]);
    Arrow(painter, w / 2, 6, -1, topIndex_ != 0 && isEnabled(), arrow);
    Arrow(painter, w / 2, h - 7, +1, CanScrollDown() && isEnabled(), arrow);
    painter.restore();
}

// Only the visible rows are drawn, whatever the number of items.
void TFlatListBox::PaintRows(QPainter& painter)
{
    int i = topIndex_;
    for (const QRect& row : rowRects_) {
        if (i > items_.Count() - 1)
            break;
        if (Selected(i)) {
            painter.fillRect(row, ToQColor(colors_[3]));
            DrawBevelFrame(painter, row, colors_[1], colors_[1], 1);
        }
        const QRect text = row.adjusted(3, 0, -3, 0);
        painter.save();
        painter.setClipRect(text);
        DrawControlCaption(painter, this, text, RowText(i), Qt::AlignLeft | Qt::AlignVCenter, false);
        painter.restore();
        ++i;
    }
}

// Around the current row while it is in view, else just inside the frame.
void TFlatListBox::PaintFocus(QPainter& painter)
{
    const int row = itemIndex_ - topIndex_;
    const bool inView = itemIndex_ < items_.Count() && row >= 0 && row < int(rowRects_.size());
    const QRect mark = inView ? rowRects_[std::size_t(row)].adjusted(1, 1, -1, -1) : rect().adjusted(1, 1, -1, -1);
    DrawFocusRect(painter, mark, FocusMarkColor(this));
}

QString TFlatListBox::RowText(int index) const
{
    const QString& item = items_[index];
    const int room = width() - 12;  // the row less its margins and the text's
    return QFontMetrics(font()).elidedText(item, Qt::ElideMiddle, room);
}

int TFlatListBox::ItemAt(QPoint p) const
{
    for (std::size_t r = 0; r < rowRects_.size(); ++r)
        if (rowRects_[r].contains(p)) {
            const int k = topIndex_ + static_cast<int>(r);
            return k < items_.Count() ? k : -1;
        }
    return -1;
}

QString TFlatListBox::HintAt(QPoint local) const
{
    const int k = ItemAt(local);
    if (k >= 0 && RowText(k) != items_[k])
        return items_[k];
    return toolTip();
}

// Without the flat hint window the toolkit's tooltip shows the same text.
bool TFlatListBox::event(QEvent* e)
{
    if (e->type() != QEvent::ToolTip)
        return QWidget::event(e);
    auto* help = static_cast<QHelpEvent*>(e);
    const QString text = HintAt(help->pos());
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, this);
    return true;
}

// ---------------------------------------------------------------- mouse

// The press acts where the pointer is now, not where the press was reported.
void TFlatListBox::mousePressEvent(QMouseEvent* e)
{
    const QPoint p = mapFromGlobal(QCursor::pos());
    pressedInside_ = e->button() == Qt::LeftButton;
    if (e->button() == Qt::LeftButton && items_.Count() > 0 && SelectRowAt(p, e->modifiers()))
        return;  // a row was selected: no OnMouseDown
    if (scrollBars_)
        ScrollByArrowAt(p);
    if (OnMouseDown) {
        const QPoint at = e->position().toPoint();
        OnMouseDown(this, e->button(), e->modifiers(), at.x(), at.y());
    }
}

bool TFlatListBox::SelectRowAt(QPoint p, Qt::KeyboardModifiers modifiers)
{
    for (std::size_t r = 0; r < rowRects_.size(); ++r) {
        if (!rowRects_[r].contains(p))
            continue;
        const int k = topIndex_ + static_cast<int>(r);
        const bool ctrl = modifiers & Qt::ControlModifier;
        if (extendedSelect_ && (modifiers & Qt::ShiftModifier) && anchor_ >= 0) {
            if (!ctrl)
                selection_.clear();
            SelectRange(anchor_, std::min(k, items_.Count() - 1));
        } else if (multiSelect_ || (extendedSelect_ && ctrl)) {
            SetSelected(k, !Selected(k));
            anchor_ = k;
        } else {
            selection_.clear();
            SetSelected(k, true);
            anchor_ = k;
        }
        itemIndex_ = k;
        setFocus(Qt::MouseFocusReason);
        SelectionChanged();
        return true;
    }
    return false;
}

bool TFlatListBox::ScrollByArrowAt(QPoint p)
{
    const int w = width(), h = height();
    if (QRect(0, 0, w, 11).contains(p)) {
        topIndex_ = std::max(0, topIndex_ - 1);
        StartAutoRepeat(false);
        return true;
    }
    if (QRect(0, h - 11, w, 11).contains(p)) {
        if (CanScrollDown())
            ++topIndex_;
        StartAutoRepeat(true);
        return true;
    }
    return false;
}

void TFlatListBox::StartAutoRepeat(bool down)
{
    setFocus(Qt::MouseFocusReason);
    update();
    scrollingDown_ = down;
    SharedScrollTimer& shared = Shared();
    shared.timer->stop();
    shared.target = this;
    shared.timer->start();
}

void TFlatListBox::ScrollTick()
{
    QTimer* timer = Shared().timer;
    timer->setInterval(100);
    if (scrollingDown_) {
        if (!CanScrollDown())
            timer->stop();
        else
            ++topIndex_;
    } else if (topIndex_ - 1 < 0) {
        topIndex_ = 0;
        timer->stop();
    } else {
        --topIndex_;
    }
    update();
}

void TFlatListBox::mouseReleaseEvent(QMouseEvent* e)
{
    QTimer* timer = Shared().timer;
    timer->stop();
    timer->setInterval(600);
    const QPoint at = e->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(this, e->button(), e->modifiers(), at.x(), at.y());
    const bool click = pressedInside_ && e->button() == Qt::LeftButton && rect().contains(at);
    pressedInside_ = false;
    if (click && OnClick)
        OnClick(this);
}

void TFlatListBox::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint at = e->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(this, e->modifiers(), at.x(), at.y());
}

// ---------------------------------------------------------------- keys, wheel

// The navigation keys move the current row and scroll it into view. In a
// single-selection box the current row is the selection; in the others the
// space bar selects it (or takes it out), Shift+key selects up to it and
// Ctrl+A selects every row. Other keys, and every key with Ctrl but Ctrl+A,
// go on to the containers (Ctrl+Tab and Ctrl+PageDown switch pages).
void TFlatListBox::keyPressEvent(QKeyEvent* e)
{
    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    if (mods & Qt::ControlModifier) {
        if (e->key() == Qt::Key_A && mods == Qt::ControlModifier && ManyRows()) {
            SelectAll();
            SelectionChanged();
        } else {
            e->ignore();
        }
        return;
    }
    const int target = KeyTarget(e->key());
    if (target >= 0) {
        MoveCurrent(target, ManyRows() && (mods & Qt::ShiftModifier));
    } else if (e->key() == Qt::Key_Space && ManyRows() && itemIndex_ >= 0 && itemIndex_ < items_.Count()) {
        SetSelected(itemIndex_, !Selected(itemIndex_));
        anchor_ = itemIndex_;
        SelectionChanged();
    } else {
        QWidget::keyPressEvent(e);
    }
    update();
}

int TFlatListBox::KeyTarget(int key) const
{
    const int last = items_.Count() - 1;
    if (last < 0)
        return -1;
    const int current = std::clamp(itemIndex_, -1, last);
    const int page = std::max(1, visibleRows_ - 1);
    switch (key) {
    case Qt::Key_Up: return std::max(0, current - 1);
    case Qt::Key_Down: return std::min(last, current + 1);
    case Qt::Key_Home: return 0;
    case Qt::Key_End: return last;
    case Qt::Key_PageUp: return std::max(0, current - page);
    case Qt::Key_PageDown: return std::min(last, std::max(0, current) + page);
    default: return -1;
    }
}

void TFlatListBox::MoveCurrent(int index, bool extend)
{
    if (!ManyRows()) {
        SetItemIndex(index);
        anchor_ = index;
    } else if (extend) {
        itemIndex_ = index;
        selection_.clear();
        SelectRange(anchor_ >= 0 ? anchor_ : index, index);
    } else {
        itemIndex_ = index;
        anchor_ = index;
    }
    ScrollIntoView(index);
    if (!ManyRows() || extend)
        SelectionChanged();
}

void TFlatListBox::ScrollIntoView(int index)
{
    if (index < topIndex_)
        topIndex_ = index;
    else if (visibleRows_ > 0 && index >= topIndex_ + visibleRows_)
        topIndex_ = index - visibleRows_ + 1;
}

// One notch is a delta of 120; the low byte of the 16-bit delta tells the
// direction (0x88 towards the user, 0x78 away), so two notches reported at
// once do nothing.
// Whole-notch events keep their own rule (the low byte of the delta: one
// notch either way scrolls, two reported at once do nothing); smaller deltas of
// touchpads and high-resolution wheels add up into whole notches.
void TFlatListBox::wheelEvent(QWheelEvent* e)
{
    constexpr int kNotch = 120;
    const int delta = e->angleDelta().y();
    if (delta % kNotch == 0) {
        const int lowByte = delta & 0xFF;
        if (lowByte == 0x88)
            ScrollWheelNotch(-1);
        else if (lowByte == 0x78)
            ScrollWheelNotch(1);
    } else {
        wheelRemainder_ += delta;
        for (; wheelRemainder_ <= -kNotch; wheelRemainder_ += kNotch)
            ScrollWheelNotch(-1);
        for (; wheelRemainder_ >= kNotch; wheelRemainder_ -= kNotch)
            ScrollWheelNotch(1);
    }
    e->accept();
    update();
}

// One notch towards the end of the list (-1) or its start (1).
void TFlatListBox::ScrollWheelNotch(int direction)
{
    const int lines = QApplication::wheelScrollLines() != 0 ? QApplication::wheelScrollLines() : visibleRows_;
    if (direction > 0)
        topIndex_ = std::max(0, topIndex_ - lines);
    else if (items_.Count() < topIndex_ + visibleRows_ + lines)
        topIndex_ = std::max(0, items_.Count() - visibleRows_);
    else
        topIndex_ += lines;
}

// The focus mark comes and goes with the focus.
void TFlatListBox::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    update();
}

void TFlatListBox::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    update();
}

void TFlatListBox::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    if (transparentMode_ != tmNone)
        update();
}

void TFlatListBox::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    FollowAppearanceChange(e);
}
