// TFlatListBox: a list box that keeps its own strings and draws everything
// itself: frame, fixed-height rows, optional bands with scroll arrows (no
// scroll bar) and selected rows as filled, framed rectangles. Hit testing,
// scrolling and selection are its own; only the visible rows are painted.
// A row too long for the box is shown elided in the middle and whole in its
// tooltip. Any number of rows can be selected.
#pragma once

#include "FlatUtilitys.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

// The box's own list of strings. Sorted, it keeps the locale's
// case-insensitive order and ignores an item equal (but for case) to one
// already present. Every change is reported through OnChange.
//
// A long list can instead be given as rows its owner makes when asked
// (Provide): a million rows then cost the box nothing until one is drawn or
// read. Any change but Clear and Assign first turns them into strings.
class TFlatStrings {
public:
    int Count() const { return row_ ? provided_ : static_cast<int>(items_.size()); }
    QString operator[](int index) const { return row_ ? row_(index) : items_[index]; }
    QStringList List() const;
    // Returns the index of the new item (of the equal one when sorted).
    int Add(const QString& item);
    void Insert(int index, const QString& item);
    void Delete(int index);
    void Clear();
    // Clears and adds every entry of `items`.
    void Assign(const QStringList& items);
    // Clears and shows `count` rows, row i being `row(i)` whenever it is
    // needed; `row` must stay valid while they are shown. Sorted, the rows
    // are added as strings instead.
    void Provide(int count, std::function<QString(int)> row);
    int IndexOf(const QString& item) const;
    bool Sorted() const { return sorted_; }
    // Switching sorting on sorts the present items.
    void SetSorted(bool v);

    std::function<void()> OnChange;

private:
    void Changed();
    // Runs `change` and reports it as one change, however many items it touches.
    void AsOneChange(const std::function<void()>& change);
    // Turns provided rows into strings before a change to single items.
    void KeepAsStrings();
    QStringList items_;
    bool sorted_ = false;
    int provided_ = 0;
    std::function<QString(int)> row_;  // set while the rows are provided
};

class TFlatListBox : public QWidget, public TFlatColors, public TFlatHintSource {
    Q_OBJECT
    Q_PROPERTY(FlatUtilitys::TTransparentMode TransparentMode READ TransparentMode WRITE SetTransparentMode)
    Q_PROPERTY(QStringList Items READ ItemList WRITE SetItemList)
    Q_PROPERTY(int ItemHeight READ ItemHeight WRITE SetItemHeight)
    Q_PROPERTY(bool MultiSelect READ MultiSelect WRITE SetMultiSelect)
    Q_PROPERTY(bool ExtendedSelect READ ExtendedSelect WRITE SetExtendedSelect)
    Q_PROPERTY(bool ScrollBars READ ScrollBars WRITE SetScrollBars)
    Q_PROPERTY(TColor Color READ Color WRITE SetColor)
    Q_PROPERTY(TColor ColorArrow READ ColorArrow WRITE SetColorArrow)
    Q_PROPERTY(TColor ColorBorder READ ColorBorder WRITE SetColorBorder)
    Q_PROPERTY(TColor ColorItemsRect READ ColorItemsRect WRITE SetColorItemsRect)
    Q_PROPERTY(TColor ColorItemsSelect READ ColorItemsSelect WRITE SetColorItemsSelect)
    Q_PROPERTY(int AdvColorBorder READ AdvColorBorder WRITE SetAdvColorBorder)
    Q_PROPERTY(bool UseAdvColors READ UseAdvColors WRITE SetUseAdvColors)
    Q_PROPERTY(bool Sorted READ Sorted WRITE SetSorted)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
    Q_PROPERTY(QString Hint READ toolTip WRITE setToolTip)

public:
    explicit TFlatListBox(QWidget* parent = nullptr);
    ~TFlatListBox() override;

    TTransparentMode TransparentMode() const { return transparentMode_; }
    void SetTransparentMode(TTransparentMode v);
    TFlatStrings& Items() { return items_; }
    const TFlatStrings& Items() const { return items_; }
    // Ignored for more than 256 entries; otherwise trims the entries of
    // `items` itself and copies them in.
    void SetItems(QStringList& items);
    QStringList ItemList() const { return items_.List(); }
    void SetItemList(const QStringList& items);
    int ItemHeight() const { return itemHeight_; }
    void SetItemHeight(int v);
    bool MultiSelect() const { return multiSelect_; }
    void SetMultiSelect(bool v);
    // A click selects only its row, Ctrl+click adds or removes one, Shift+click
    // selects the rows from the last one clicked; Ctrl+A selects every row.
    bool ExtendedSelect() const { return extendedSelect_; }
    void SetExtendedSelect(bool v) { extendedSelect_ = v; }
    bool ScrollBars() const { return scrollBars_; }
    void SetScrollBars(bool v);
    TColor ColorArrow() const { return colors_[0]; }
    void SetColorArrow(TColor v) { SetColorByIndex(0, v); }
    TColor ColorBorder() const { return colors_[1]; }
    void SetColorBorder(TColor v) { SetColorByIndex(1, v); }
    TColor ColorItemsRect() const { return colors_[2]; }
    void SetColorItemsRect(TColor v) { SetColorByIndex(2, v); }
    TColor ColorItemsSelect() const { return colors_[3]; }
    void SetColorItemsSelect(TColor v) { SetColorByIndex(3, v); }
    int AdvColorBorder() const { return advColorBorder_; }
    void SetAdvColorBorder(int v);
    bool Sorted() const { return items_.Sorted(); }
    void SetSorted(bool v);

    // The index of the last selection action; not kept in step with the
    // selection or the items.
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int v);
    bool Selected(int index) const
    {
        return index >= 0 && std::size_t(index) < selection_.size() && selection_[std::size_t(index)];
    }
    // How many of the items are selected.
    int SelectedCount() const;
    void SelectAll();
    // The text row `index` shows: the item, elided in the middle when it is
    // wider than the row.
    QString RowText(int index) const;
    // The whole item under a row that shows it elided, else the box's own tooltip.
    QString HintAt(QPoint local) const override;
    int TopIndex() const { return topIndex_; }
    int VisibleRows() const { return visibleRows_; }
    const std::vector<QRect>& RowRects() const { return rowRects_; }
    // Lays the rows out for the current height; after loading and size changes.
    void RebuildRows();
    void Loaded() { RebuildRows(); }

    // The timer all list boxes share for the arrows' auto-repeat; it exists
    // while any list box does.
    static QTimer* ScrollTimer();
    // One auto-repeat step of the box the timer is bound to.
    void ScrollTick();

    std::function<void(QObject*)> OnClick;
    // The user changed the selection (mouse or keys).
    std::function<void(QObject*)> OnSelectionChange;
    std::function<void(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)> OnMouseDown;
    std::function<void(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)> OnMouseUp;
    std::function<void(QObject*, Qt::KeyboardModifiers, int, int)> OnMouseMove;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void ScrollWheelNotch(int direction);
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    int Margins() const { return scrollBars_ ? 24 : 4; }
    int RowsFor(int height) const { return (height - Margins()) / (itemHeight_ + 2); }
    bool CanScrollDown(int by = 1) const { return items_.Count() >= topIndex_ + visibleRows_ + by; }
    void ItemsChanged();
    bool SelectRowAt(QPoint p, Qt::KeyboardModifiers modifiers);
    // The item under `p`, or -1 outside the rows that hold one.
    int ItemAt(QPoint p) const;
    // Several rows can be selected (MultiSelect or ExtendedSelect).
    bool ManyRows() const { return multiSelect_ || extendedSelect_; }
    void SetSelected(int index, bool on);
    // Selects the rows between `from` and `to`, both included.
    void SelectRange(int from, int to);
    // The row a navigation key leads to, or -1 for another key.
    int KeyTarget(int key) const;
    // Makes `index` the current row: the selected one in a single-selection
    // box, the one Space acts on in the others (Shift selects up to it).
    void MoveCurrent(int index, bool extend);
    void ScrollIntoView(int index);
    void SelectionChanged();
    void PaintFocus(QPainter& painter);
    bool ScrollByArrowAt(QPoint p);
    void StartAutoRepeat(bool down);
    void PaintBackground(QPainter& painter);
    void PaintBands(QPainter& painter);
    void PaintRows(QPainter& painter);
    void SetColorByIndex(int index, TColor v);

    TFlatStrings items_;
    TTransparentMode transparentMode_ = tmNone;
    int itemHeight_ = 17;
    bool multiSelect_ = false;
    bool scrollBars_ = false;
    TColor colors_[4] = {clBlack, kDefaultBorder, clWhite, 0x9CDEF7};
    TAdvColors advColorBorder_ = 40;

    int topIndex_ = 0;
    int wheelRemainder_ = 0;  // wheel delta below one notch, not yet scrolled
    int visibleRows_ = 0;
    std::vector<QRect> rowRects_;
    std::vector<bool> selection_;
    int anchor_ = -1;  // where a Shift selection starts
    int itemIndex_ = -1;
    bool extendedSelect_ = false;
    bool scrollingDown_ = false;
    bool snapping_ = false;
    bool pressedInside_ = false;
};
