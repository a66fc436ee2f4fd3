#include "app/imagelist/image_list_editor.h"

#include "app/imagelist/image_list_texts.h"
#include "app/imagelist/image_list_ui.h"
#include "app/qt_text.h"
#include "app/user_dialogs.h"
#include "core/settings.h"
#include "script/commands.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

// The list as the view shows it: one row per item, Name and Folder.
class ImageListTableModel : public QAbstractTableModel {
  public:
    ImageListTableModel(const ImageListModel& list, QObject* parent)
        : QAbstractTableModel(parent), list_(list) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(list_.items().size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 2;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) return {};
        const size_t row = static_cast<size_t>(index.row());
        const ImageListModel::Item& item = list_.items()[row];
        if (role == Qt::DisplayRole)
            return FromPath(index.column() == 0 ? item.name : list_.folders()[item.folder].text);
        if (role == Qt::ToolTipRole) return FromPath(list_.PathOf(row));
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        return QText(section == 0 ? ids::ListColumnName : ids::ListColumnFolder);
    }
    void reset() {
        beginResetModel();
        endResetModel();
    }

  private:
    const ImageListModel& list_;
};

// The verification pass's window side: texts, the bar, Escape, and the
// "Folder Error" dialog. Events are pumped now and then, so the window
// repaints and Escape is seen.
class CImageListFileDlg::Host : public VerifyHost {
  public:
    explicit Host(CImageListFileDlg& editor) : d_(editor) {}

    void Preparing(int range) override {
        d_.status_->setText(QText(ids::ListPreparing));
        d_.progress_->setRange(0, std::max(range, 1));
        d_.progress_->setValue(0);
        pump(true);
    }
    void Verifying(const std::string& text, int position) override {
        d_.status_->setText(QFormat(ids::ListVerifying, text));
        d_.progress_->setValue(std::min(position, d_.progress_->maximum()));
        pump(false);
    }
    bool AbortRequested() override {
        pump(false);
        return d_.abortRequested_;
    }
    FolderChoice FolderMissing(const std::string& folder) override {
        return d_.ask_.folderError(&d_, folder, d_.dialogs_);
    }

  private:
    void pump(bool now) {
        if (!now && clock_.isValid() && clock_.elapsed() < 30) return;
        QApplication::processEvents();
        clock_.start();
    }

    CImageListFileDlg& d_;
    QElapsedTimer clock_;
};

namespace {

QString ListFilter() {
    return DialogFilter(LoadString(ids::ListFilter));
}

QString FolderOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

} // namespace

CImageListFileDlg::CImageListFileDlg(UserDialogs& dialogs, ImageListAsk& ask, const QString& path,
                                     QWidget* parent)
    : QDialog(parent), dialogs_(dialogs), ask_(ask) {
    setObjectName(QStringLiteral("imageListEditor"));

    table_ = new ImageListTableModel(list_, this);
    view_ = new QTreeView;
    view_->setObjectName(QStringLiteral("imageList"));
    view_->setModel(table_);
    view_->setRootIsDecorated(false);
    view_->setUniformRowHeights(true);
    view_->setAllColumnsShowFocus(true);
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    QHeaderView* header = view_->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(true);
    header->resizeSection(0, 220);

    auto button = [this](int text, const char* name) {
        auto* b = new QPushButton(QText(text));
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        buttons_ << b;
        return b;
    };
    QPushButton* newButton = button(ids::ListNew, "new");
    QPushButton* open = button(ids::ListOpen, "open");
    QPushButton* save = button(ids::ListSave, "save");
    QPushButton* saveAs = button(ids::ListSaveAs, "saveAs");
    QPushButton* add = button(ids::ListAdd, "add");
    QPushButton* remove = button(ids::ListDelete, "delete");
    QPushButton* import = button(ids::ListImport, "import");
    QPushButton* verify = button(ids::ListVerify, "verify");
    QPushButton* ok = button(ids::ListOk, "ok");
    QPushButton* cancel = button(ids::ListCancel, "cancel");
    ok->setDefault(true);

    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("status"));
    status_->setMinimumWidth(200);
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("progress"));
    progress_->setTextVisible(false);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setFixedWidth(160);
    escHint_ = new QLabel(QText(ids::ListEscHint));
    escHint_->setObjectName(QStringLiteral("escHint"));
    // The bar and the hint only mean something during a verification; they
    // keep their room meanwhile, so the window does not jump.
    for (QWidget* w : {static_cast<QWidget*>(progress_), static_cast<QWidget*>(escHint_)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
        w->hide();
    }

    auto* fileRow = new QHBoxLayout;
    for (QPushButton* b : {newButton, open, save, saveAs})
        fileRow->addWidget(b);
    fileRow->addStretch(1);
    for (QPushButton* b : {add, remove, import, verify})
        fileRow->addWidget(b);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(status_, 1);
    statusRow->addWidget(progress_);
    statusRow->addWidget(escHint_);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(ok);
    closeRow->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(fileRow);
    layout->addLayout(statusRow);
    layout->addLayout(closeRow);

    connect(newButton, &QPushButton::clicked, this, [this] { newList(); });
    connect(open, &QPushButton::clicked, this, [this] { openList(); });
    connect(save, &QPushButton::clicked, this, [this] { this->save(); });
    connect(saveAs, &QPushButton::clicked, this, [this] { this->saveAs(); });
    connect(add, &QPushButton::clicked, this, [this] { addImages(); });
    connect(remove, &QPushButton::clicked, this, &CImageListFileDlg::deleteSelected);
    connect(import, &QPushButton::clicked, this, [this] { importList(); });
    connect(verify, &QPushButton::clicked, this, [this] { this->verify(); });
    connect(ok, &QPushButton::clicked, this, &CImageListFileDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CImageListFileDlg::reject);
    connect(header, &QHeaderView::sectionClicked, this, &CImageListFileDlg::sortBy);
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CImageListFileDlg::updateStatus);

    resize(760, 480);
    if (!path.isEmpty()) readInto(path, false);
    refresh();
}

CImageListFileDlg::~CImageListFileDlg() {
    qApp->removeEventFilter(this);
    // The list goes before QDialog hides the view, which would read it.
    view_->setModel(nullptr);
}

QString CImageListFileDlg::fileName() const {
    return FromPath(list_.fileName());
}

void CImageListFileDlg::refresh() {
    table_->reset();
    updateTitle();
    updateStatus();
}

void CImageListFileDlg::updateTitle() {
    const QString name = list_.fileName().empty()
                             ? QText(IDS_UNTITLED)
                             : QFileInfo(FromPath(list_.fileName())).fileName();
    setWindowTitle(QText(ids::ListTitle) + name +
                   (list_.modified() ? QText(ids::ListModified) : QString()));
}

void CImageListFileDlg::updateStatus() {
    if (verifying_) return;
    const int files = static_cast<int>(list_.items().size());
    const int selected = static_cast<int>(view_->selectionModel()->selectedRows().size());
    status_->setText(selected > 0 ? QFormat(ids::ListSelected, selected, files)
                                  : QFormat(ids::ListCounts, files,
                                            static_cast<int>(list_.folders().size())));
}

bool CImageListFileDlg::confirmLoseChanges() {
    if (!list_.modified()) return true;
    switch (dialogs_.ask(this, QText(ids::ListSaveChanges), BoxButtons::YesNoCancel,
                         BoxIcon::Question)) {
    case BoxAnswer::Yes:
        return save();
    case BoxAnswer::No:
        return true;
    default:
        return false;
    }
}

bool CImageListFileDlg::discardEmpty() {
    if (dialogs_.ask(this, QText(ids::ListDiscardEmpty), BoxButtons::YesNo, BoxIcon::Question) !=
        BoxAnswer::Yes)
        return false;
    list_.SetModified(false);
    updateTitle();
    return true;
}

bool CImageListFileDlg::writeTo(const std::string& path) {
    if (list_.Save(path) != ImageListStatus::Ok) {
        dialogs_.tell(this, QFormat(ids::ListNotSaved, path), BoxIcon::Exclamation);
        return false;
    }
    updateTitle();
    return true;
}

bool CImageListFileDlg::save() {
    if (list_.items().empty()) return !list_.modified() || discardEmpty();
    if (list_.fileName().empty()) return saveAs();
    return writeTo(list_.fileName());
}

bool CImageListFileDlg::saveAs() {
    if (list_.items().empty()) return !list_.modified() || discardEmpty();
    SettingsStore& store = AppSettings();
    const QString current = list_.fileName().empty()
                                ? QText(IDS_UNTITLED) + QStringLiteral(".brl")
                                : QFileInfo(FromPath(list_.fileName())).fileName();
    const QString proposed =
        FromPath(store.Get(setting::ImageListSaveAs)) + QLatin1Char('/') + current;
    const QString name = dialogs_.saveFileName(this, QText(ids::ListSaveAsTitle), proposed,
                                               ListFilter(), QStringLiteral("brl"));
    if (name.isEmpty()) return false;
    store.Set(setting::ImageListSaveAs, ToPath(FolderOf(name)));
    store.Save();
    return writeTo(ToPath(name));
}

bool CImageListFileDlg::readInto(const QString& path, bool import) {
    const ImageListStatus s = import ? list_.Import(ToPath(path)) : list_.Open(ToPath(path));
    if (s == ImageListStatus::NotAnImageList) {
        dialogs_.tell(this, QText(ids::NotAnImageList), BoxIcon::Exclamation);
        return false;
    }
    if (s != ImageListStatus::Ok) {
        dialogs_.tell(this, QText(ids::CannotOpenRequested), BoxIcon::Exclamation);
        return false;
    }
    if (!import) {
        // A list opened shows its own order.
        sortColumn_ = -1;
        view_->header()->setSortIndicatorShown(false);
    }
    refresh();
    return true;
}

bool CImageListFileDlg::newList() {
    if (!confirmLoseChanges()) return false;
    list_.Clear();
    sortColumn_ = -1;
    view_->header()->setSortIndicatorShown(false);
    refresh();
    return true;
}

bool CImageListFileDlg::openList() {
    if (!confirmLoseChanges()) return false;
    SettingsStore& store = AppSettings();
    int index = 0;
    const QString name = dialogs_.openFileName(this, QText(ids::ListOpenTitle),
                                               FromPath(store.Get(setting::ImageListLoad)),
                                               ListFilter(), &index);
    if (name.isEmpty()) return false;
    store.Set(setting::ImageListLoad, ToPath(FolderOf(name)));
    store.Save();
    return readInto(name, false);
}

bool CImageListFileDlg::importList() {
    SettingsStore& store = AppSettings();
    int index = 0;
    const QString name = dialogs_.openFileName(this, QText(ids::ListImportTitle),
                                               FromPath(store.Get(setting::ImageListImport)),
                                               ListFilter(), &index);
    if (name.isEmpty()) return false;
    store.Set(setting::ImageListImport, ToPath(FolderOf(name)));
    store.Save();
    return readInto(name, true);
}

bool CImageListFileDlg::addImages() {
    SettingsStore& store = AppSettings();
    int index = static_cast<int>(store.Get(setting::ImageListOpenIndex));
    QStringList paths;
    QString folder;
    if (!ask_.pickImages(this, FromPath(store.Get(setting::ImageListOpenDir)), &index, &paths,
                         &folder))
        return false;
    if (!folder.isEmpty()) store.Set(setting::ImageListOpenDir, ToPath(folder));
    store.Set(setting::ImageListOpenIndex, index);
    store.Save();
    std::vector<std::string> add;
    add.reserve(static_cast<size_t>(paths.size()));
    for (const QString& p : paths)
        add.push_back(ToPath(p));
    list_.Add(add, true);
    refresh();
    return true;
}

void CImageListFileDlg::deleteSelected() {
    std::vector<size_t> rows;
    for (const QModelIndex& i : view_->selectionModel()->selectedRows())
        rows.push_back(static_cast<size_t>(i.row()));
    if (rows.empty()) return;
    list_.Remove(rows);
    refresh();
}

void CImageListFileDlg::sortBy(int column) {
    if (verifying_) return;
    descending_ = column == sortColumn_ ? !descending_ : false;
    sortColumn_ = column;
    list_.Sort(column == 0 ? ImageListModel::SortKey::Name : ImageListModel::SortKey::Folder,
               descending_);
    view_->header()->setSortIndicatorShown(true);
    view_->header()->setSortIndicator(column, descending_ ? Qt::DescendingOrder
                                                          : Qt::AscendingOrder);
    refresh();
}

void CImageListFileDlg::setBusy(bool busy) {
    verifying_ = busy;
    for (QPushButton* b : buttons_)
        b->setEnabled(!busy);
    view_->setEnabled(!busy);
    progress_->setVisible(busy);
    escHint_->setVisible(busy);
    if (busy) {
        abortRequested_ = false;
        qApp->installEventFilter(this);
    } else {
        qApp->removeEventFilter(this);
        progress_->setRange(0, 1);
        progress_->setValue(0);
    }
}

bool CImageListFileDlg::verify() {
    if (verifying_) return false;
    setBusy(true);
    Host host(*this);
    const VerifyOutcome outcome = VerifyImageList(list_, host);
    setBusy(false);
    refresh();
    return outcome == VerifyOutcome::Completed;
}

bool CImageListFileDlg::eventFilter(QObject* watched, QEvent* event) {
    // While verifying, Escape in this window ends the pass instead of
    // closing it; in the "Folder Error" dialog it is that dialog's Abort.
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (verifying_ && widget && widget->window() == this && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        abortRequested_ = true;
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CImageListFileDlg::accept() {
    if (verifying_) return;
    if (list_.modified() && !save()) return;
    QDialog::accept();
}

void CImageListFileDlg::reject() {
    if (verifying_) {
        abortRequested_ = true;
        return;
    }
    if (!confirmLoseChanges()) return;
    QDialog::reject();
}
