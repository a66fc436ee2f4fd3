#include "app/about_box.h"

#include "app/app_icon.h"
#include "app/app_info.h"
#include "app/main_strings.h"
#include "app/qt_text.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

AboutBox::AboutBox(const SystemFacts& facts, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QFormat(appids::AboutTitle, ApplicationName().toStdString()));

    auto* icon = new QLabel;
    icon->setPixmap(ApplicationIcon().pixmap(64, 64));
    icon->setAlignment(Qt::AlignTop);
    auto* name =
        new QLabel(QStringLiteral("<b style='font-size:large'>%1</b>")
                       .arg(QFormat(appids::NameAndVersion, ApplicationName().toStdString(),
                                    ApplicationVersion().toStdString())
                                .toHtmlEscaped()));
    name->setObjectName(QStringLiteral("aboutName"));
    auto* text = new QLabel(QText(appids::AboutText));
    text->setWordWrap(true);
    auto* heading = new QVBoxLayout;
    heading->addWidget(name);
    heading->addWidget(text);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(heading, 1);

    // Each line is "label<tabs>value"; a line without a value heads a group.
    auto* list = new QTreeWidget;
    list->setObjectName(QStringLiteral("buildInfo"));
    list->setColumnCount(2);
    list->setHeaderLabels({QText(appids::BuildInfoTitle), QString()});
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    QTreeWidgetItem* group = nullptr;
    for (const std::string& line : BuildInformationLines(facts)) {
        const QString all = QString::fromStdString(line);
        const qsizetype tab = all.indexOf('\t');
        const QString label = (tab < 0 ? all : all.left(tab)).trimmed();
        const QString value = tab < 0 ? QString() : all.mid(tab).trimmed();
        if (tab < 0 && !line.starts_with(' ')) {
            group = new QTreeWidgetItem(list, {label});
            QFont bold = group->font(0);
            bold.setBold(true);
            group->setFont(0, bold);
            group->setFirstColumnSpanned(true);
            continue;
        }
        auto* item = group ? new QTreeWidgetItem(group, {label, value})
                           : new QTreeWidgetItem(list, {label, value});
        item->setToolTip(1, value);
    }
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->expandAll();
    list->setIndentation(12);
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(list, 1);
    layout->addWidget(buttons);
    resize(560, 470);
}
