#include "dialogs/frmReferences.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

#include "dialogs/UiServices.h"
#include "dialogs/modTypelibKeyWalker.h"
#include "foundation/modHourGlass.h"
#include "platform/registry/Registry.h"

namespace zephrin::dialogs {

using namespace ole;

namespace {

constexpr int kLocation = 0;
constexpr int kName = 1;
constexpr int kVersion = 2;

bool IsSeparator(QChar c) { return c == u'/' || c == u'\\'; }

QString VersionText(RefInfo& record) {
    return QStringLiteral("%1.%2").arg(record.MajorVersion()).arg(record.MinorVersion());
}

// Where the head of a path ends (just after its separator), or -1.
qsizetype HeadEnd(const QString& path) {
    qsizetype from = 0;
    if (path.startsWith(u'/'))
        from = 1;  // "/" and the first folder
    else if (path.size() > 1 && path[1] == u':')
        from = 3;  // a drive and its first folder
    else if (path.startsWith(QStringLiteral("\\\\")))
        from = 2;  // a network server
    else
        return -1;
    for (qsizetype i = from; i < path.size(); ++i)
        if (IsSeparator(path[i])) return i + 1;
    return -1;
}

}  // namespace

namespace {

// prefix and as much of the start and the end of text as fit in width, with
// "…" between them.
QString ElideMiddle(const QString& prefix, const QString& text, int width,
                    const std::function<int(const QString&)>& measure) {
    const QString mark(QChar(0x2026));
    for (qsizetype keep = text.size() - 1; keep > 0; --keep) {
        const qsizetype front = (keep + 1) / 2;
        const QString candidate = prefix + text.left(front) + mark + text.right(keep - front);
        if (measure(candidate) <= width) return candidate;
    }
    return prefix + mark;
}

}  // namespace

QString ShortenPath(const QString& path, int width, const std::function<int(const QString&)>& measure) {
    if (measure(path) <= width) return path;
    const qsizetype head = HeadEnd(path);
    if (head < 0) return path;
    const QString start = path.left(head) + QStringLiteral("...");
    QString best;
    for (qsizetype i = path.size() - 1; i >= head; --i) {
        if (!IsSeparator(path[i])) continue;
        const QString candidate = start + path.mid(i);
        if (measure(candidate) > width) break;
        best = candidate;
    }
    if (best.isEmpty()) {
        // Not even the file name fits beside the head: the name alone shows
        // the most, shortened in its middle.
        qsizetype last = path.size() - 1;
        while (last >= 0 && !IsSeparator(path[last])) --last;
        best = ElideMiddle(start, path.mid(last), width, measure);
    }
    return best;
}

QString ShortenPath(const QString& path, int width, const QFontMetrics& metrics) {
    return ShortenPath(path, width, [&metrics](const QString& text) { return metrics.horizontalAdvance(text); });
}

void frmReferences::BuildList(ITypeLib* library, const LibraryCollection& libraries, RefInfoList& refs) {
    const auto wait = modHourGlass::ShowHourGlass();
    // A library that cannot be read, or a registry that cannot be walked to
    // its end, leaves out what it would have added; the dialog shows the rest.
    try {
        if (library) refs.AddLibraryRef(true, true, library, {});
    } catch (...) {
    }
    for (const auto& lib : libraries) {
        try {
            refs.AddLibraryRef(true, false, lib.get(), {});
        } catch (...) {
        }
    }
    try {
        modTypelibKeyWalker::WalkTypelibKeys(*reg::DefaultRegistry(), modTypelibKeyWalker::UserLcidFromEnvironment(),
                                             refs);
    } catch (...) {
    }
    refs.SortRefInfos();
}

bool frmReferences::EditReferences(ITypeLib* library, LibraryCollection& libraries, RefInfoList& refs, bool applyNow,
                                   QWidget* owner) {
    BuildList(library, libraries, refs);
    frmReferences dialog(refs, owner);
    if (!dialog.Execute()) return false;
    return applyNow ? refs.ApplyReferenceChanges(libraries) : true;
}

frmReferences::frmReferences(RefInfoList& refs, QWidget* owner) : ModalDialog(owner, Sizing::Fixed), refs_(refs) {
    setWindowTitle(ResText(541));
    const QFontMetrics metrics = fontMetrics();

    auto* header = new QLabel(ResText(542), this);
    header->setObjectName(QStringLiteral("lblRefsHeader"));
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("lstRefs"));
    NameFromCaption(list_, header->text());
    header->setBuddy(list_);
    list_->setMinimumSize(metrics.averageCharWidth() * 56, metrics.lineSpacing() * 14);
    list_->setUniformItemSizes(true);

    frame_ = new QGroupBox(this);
    frame_->setObjectName(QStringLiteral("frameInfo"));
    auto* grid = new QGridLayout(frame_);
    const int heads[] = {545, 544, 546};
    const char* valueNames[] = {"Location", "Name", "Version"};
    for (int i = 0; i < 3; ++i) {
        auto* head = new QLabel(ResText(heads[i]), frame_);
        head->setObjectName(QStringLiteral("lblInfoHead%1").arg(i));
        info_[i] = new QLabel(frame_);
        info_[i]->setObjectName(QStringLiteral("lblInfo%1").arg(i));
        info_[i]->setTextFormat(Qt::PlainText);
        info_[i]->setAccessibleName(QString::fromLatin1(valueNames[i]));
        // The text never widens the dialog; the location is shortened to fit instead.
        info_[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        info_[i]->setMinimumWidth(metrics.averageCharWidth() * 8);
        grid->addWidget(head, i, 0);
        grid->addWidget(info_[i], i, 1);
    }
    grid->setColumnStretch(1, 1);
    info_[kLocation]->installEventFilter(this);
    info_[kLocation]->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    info_[kLocation]->setFocusPolicy(Qt::StrongFocus);

    auto* buttons = MakeOkCancel();
    browse_ = new QPushButton(ResText(543), this);
    browse_->setObjectName(QStringLiteral("cmdBrowse"));
    NameFromCaption(browse_, browse_->text());
    buttons->addSpacing(metrics.lineSpacing());
    buttons->addWidget(browse_);
    buttons->addStretch(1);

    auto* left = new QVBoxLayout;
    left->addWidget(header);
    left->addWidget(list_, 1);
    left->addWidget(frame_);
    auto* main = new QHBoxLayout(this);
    main->addLayout(left, 1);
    main->addLayout(buttons);

    OnClick(browse_, [this] { Browse(); });
    connect(list_, &QListWidget::itemChanged, this,
            [this](QListWidgetItem* item) { Guarded(this, [&] { ItemChanged(item); }); });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) { Guarded(this, [&] { ShowInfo(row); }); });

    Fill();
    FinishLayout();
}

RefInfo* frmReferences::RecordAt(int row) const {
    return row >= 0 && static_cast<size_t>(row) < rows_.size() ? rows_[static_cast<size_t>(row)] : nullptr;
}

void frmReferences::Fill() {
    filling_ = true;
    list_->clear();
    rows_.clear();
    for (size_t i = 0; i < refs_.Count(); ++i) {
        RefInfo* record = refs_.At(i);
        auto* item = new QListWidgetItem(ToQString(record->DisplayText()));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(record->WasReferenced() ? Qt::Checked : Qt::Unchecked);
        list_->addItem(item);
        rows_.push_back(record);
    }
    RefreshTexts();
    if (list_->count() > 0) {
        list_->setCurrentRow(0);
        ShowInfo(0);
    }
    filling_ = false;
}

void frmReferences::RefreshTexts() {
    std::map<QString, int> named;
    for (RefInfo* record : rows_) ++named[ToQString(record->DisplayText())];
    const bool was = filling_;
    filling_ = true;
    for (int row = 0; row < list_->count() && static_cast<size_t>(row) < rows_.size(); ++row) {
        RefInfo* record = rows_[static_cast<size_t>(row)];
        const QString text = ToQString(record->DisplayText());
        const QString version = VersionText(*record);
        const QString shown = named[text] > 1 ? QStringLiteral("%1 (%2)").arg(text, version) : text;
        QListWidgetItem* item = list_->item(row);
        if (item->text() != shown) item->setText(shown);
        item->setData(Qt::AccessibleTextRole, QStringLiteral("%1, version %2").arg(text, version));
    }
    filling_ = was;
}

void frmReferences::ShowInfo(int row) {
    RefInfo* record = RecordAt(row);
    if (!record || row == shown_) return;
    shown_ = row;
    // The caption never widens the dialog: a long one is cut to the frame.
    const QString caption = ToQString(record->DisplayText());
    QString shown = frame_->fontMetrics().elidedText(caption, Qt::ElideRight, CaptionWidth());
    frame_->setTitle(shown.replace(QStringLiteral("&"), QStringLiteral("&&")));
    frame_->setAccessibleName(caption);
    location_ = ToQString(record->Location());
    ShowLocation();
    info_[kName]->setText(record->VerifyRegistration() ? ToQString(record->LibraryName()) : ResText(744));
    info_[kVersion]->setText(VersionText(*record));
    // Named by their headings, the labels give their values as descriptions.
    for (int value : {kName, kVersion}) info_[value]->setAccessibleDescription(info_[value]->text());
}

int frmReferences::CaptionWidth() const {
    // The frame is as wide as the list above it; its caption leaves room
    // for the frame's corners and the style's margins around a caption.
    return std::max(frame_->width(), list_->minimumWidth()) - frame_->fontMetrics().averageCharWidth() * 8;
}

void frmReferences::ShowLocation() {
    QLabel* label = info_[kLocation];
    label->setText(ShortenPath(location_, label->contentsRect().width(), label->fontMetrics()));
    label->setToolTip(location_);
    // The keyboard reaches the label, and a screen reader reads the whole path.
    label->setAccessibleDescription(location_);
}

bool frmReferences::eventFilter(QObject* watched, QEvent* event) {
    if (watched == info_[kLocation] && event->type() == QEvent::Resize) Guarded(this, [this] { ShowLocation(); });
    return ModalDialog::eventFilter(watched, event);
}

void frmReferences::SetCheck(QListWidgetItem* item, bool checked) {
    const bool was = filling_;
    filling_ = true;
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    filling_ = was;
}

void frmReferences::ItemChanged(QListWidgetItem* item) {
    if (filling_) return;
    RefInfo* record = RecordAt(list_->row(item));
    if (!record) return;
    const bool checked = item->checkState() == Qt::Checked;
    if (record->IsCurrentLibrary()) {
        if (!checked) {
            Services().Beep();
            SetCheck(item, true);
        }
    } else if (!checked) {
        record->SetChecked(false);
    } else if (record->VerifyRegistration()) {
        record->SetChecked(true);
    } else {
        Services().Beep();
        SetCheck(item, false);
    }
}

void frmReferences::Browse() {
    FileRequest request;
    request.Title = ResText(540);
    request.Filter = ResText(547);
    const QString path = Services().OpenFileName(this, request);
    if (path.isEmpty()) return;
    const std::u16string file = FromQString(path);
    ComPtr<ITypeLib> lib;
    RefInfo* record = nullptr;
    if (SUCCEEDED(LoadTypeLibEx(file.c_str(), REGKIND_NONE, lib.put()))) {
        try {
            record = refs_.AddLibraryRef(false, false, lib.get(), file);
        } catch (...) {
            record = nullptr;
        }
    }
    if (!record) {
        Services().Beep();
        return;
    }
    if (record->ListPosition() < 0) {
        refs_.SortRefInfos();
        rows_.insert(rows_.begin() + record->ListPosition(), record);
        auto* item = new QListWidgetItem(ToQString(record->DisplayText()));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        SetCheck(item, false);
        list_->insertItem(record->ListPosition(), item);
        if (shown_ >= record->ListPosition()) ++shown_;
        RefreshTexts();
    }
    QListWidgetItem* item = list_->item(record->ListPosition());
    item->setCheckState(Qt::Checked);
    list_->setCurrentRow(record->ListPosition());
}

}  // namespace zephrin::dialogs
