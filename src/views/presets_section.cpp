// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/presets_section.h"

#include <QDropEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include "model/camera_store.h"
#include "views/icons.h"
#include "views/look.h"
#include "views/preset_name_dialog.h"
#include "views/sidebar_section.h"

namespace velto::views {
namespace {

constexpr int kIdRole = Qt::UserRole;
constexpr int kActiveRole = Qt::UserRole + 1;

// The name at the left, and a checkmark in the accent colour at the right of the active preset.
class PresetDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  // Rows with room around the name, like the other rows of the form.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    const QSize base = QStyledItemDelegate::sizeHint(option, index);
    return {base.width(), std::max(base.height() + 8, 24)};
  }

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    if (!index.data(kActiveRole).toBool()) return;
    const int side = 16;
    const QRect mark(option.rect.right() - side - 6, option.rect.center().y() - side / 2, side, side);
    const bool selected = option.state & QStyle::State_Selected;
    // Qt 6.4's palette has no accent role: the highlight colour is the desktop's accent.
    const QColor tint = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Highlight);
    icon("checkmark", tint).paint(painter, mark);
  }
};

// Rows reorder by dragging; the store does the moving and the list is rebuilt from it.
class PresetList : public QListWidget {
 public:
  PresetList(PresetsSection* section, QWidget* parent) : QListWidget(parent), section_(section) {
    setDragDropMode(QAbstractItemView::InternalMove);
    setDefaultDropAction(Qt::MoveAction);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setItemDelegate(new PresetDelegate(this));
    setContextMenuPolicy(Qt::CustomContextMenu);
  }

  // As tall as its rows: the sidebar scrolls, not the list.
  QSize sizeHint() const override {
    const int row = count() ? sizeHintForRow(0) : 0;
    return {QListWidget::sizeHint().width(), row * count() + 2 * frameWidth()};
  }
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void dropEvent(QDropEvent* event) override {
    stopAutoScroll();
    if (event->source() != this) {
      event->ignore();
      return;
    }
    const QPoint at = event->position().toPoint();
    const QModelIndex target = indexAt(at);
    const int destination = !target.isValid() ? count() : at.y() < visualRect(target).center().y() ? target.row() : target.row() + 1;
    std::set<int> rows;
    for (const QModelIndex& index : selectedIndexes()) rows.insert(index.row());
    // Nothing for the drag to remove: the store's move rebuilds the rows.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    section_->move(rows, destination);
  }

 private:
  PresetsSection* section_;
};

}  // namespace

PresetsSection::PresetsSection(CameraStore& store, QWidget* parent) : QWidget(parent), store_(store) {
  const SectionParts parts = buildSection(this, tr("Presets"));
  add_ = headerButton(QString(), tr("Save current settings as a preset"), this);
  add_->setIcon(icon("plus"));
  parts.header->addWidget(add_);

  empty_ = new QLabel(tr("Save your current settings as a preset to switch looks in one click."), parts.box);
  empty_->setWordWrap(true);
  empty_->setForegroundRole(QPalette::PlaceholderText);
  parts.rows->addWidget(empty_);
  list_ = new PresetList(this, parts.box);
  parts.rows->addWidget(list_);

  connect(add_, &QToolButton::clicked, this, [this] { startNaming({}); });
  auto apply = [this](QListWidgetItem* item) {
    if (auto id = idAt(list_->row(item))) {
      for (const Preset& preset : store_.presets()) {
        if (preset.id == *id) return store_.applyPreset(preset);
      }
    }
  };
  connect(list_, &QListWidget::itemClicked, this, apply);
  connect(list_, &QListWidget::itemActivated, this, apply);
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    const int row = list_->indexAt(at).row();
    if (QMenu* menu = contextMenu(row)) {
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->popup(list_->viewport()->mapToGlobal(at));
    }
  });
  connect(&store_, &CameraStore::presetsChanged, this, &PresetsSection::render);
  connect(&store_, &CameraStore::valuesChanged, this, &PresetsSection::renderActive);
  connect(&store_, &CameraStore::deviceChanged, this, [this] {
    if (dialog_ && (!store_.device() || store_.device()->registryID != namingFor_)) dismissNaming();
    renderActive();
  });
  render();
}

PresetNameDialog* PresetsSection::namingDialog() const { return dialog_; }

std::optional<QUuid> PresetsSection::idAt(int row) const {
  const QListWidgetItem* item = list_->item(row);
  if (!item) return std::nullopt;
  return item->data(kIdRole).toUuid();
}

void PresetsSection::render() {
  const QList<Preset>& presets = store_.presets();
  const bool full = presets.size() >= kMaxPresets;
  add_->setEnabled(!full);
  add_->setToolTip(full ? tr("There are %n presets, the most there can be. Delete one to save another.", nullptr, kMaxPresets)
                        : tr("Save current settings as a preset"));
  empty_->setVisible(presets.isEmpty());
  list_->setVisible(!presets.isEmpty());
  list_->clear();
  for (const Preset& preset : presets) {
    auto* item = new QListWidgetItem(preset.name, list_);
    item->setData(kIdRole, preset.id);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
  }
  list_->updateGeometry();
  renderActive();
}

void PresetsSection::renderActive() {
  const std::optional<QUuid> active = store_.activePresetID();
  for (int row = 0; row < list_->count(); ++row) {
    QListWidgetItem* item = list_->item(row);
    const bool on = active && item->data(kIdRole).toUuid() == *active;
    if (item->data(kActiveRole).toBool() == on) continue;
    item->setData(kActiveRole, on);
    //: Said of the preset whose values the camera has now.
    item->setData(Qt::AccessibleDescriptionRole, on ? tr("Active") : QString());
  }
}

QMenu* PresetsSection::contextMenu(int row) {
  const std::optional<QUuid> id = idAt(row);
  if (!id) return nullptr;
  auto* menu = new QMenu(list_);
  // Each action names the preset by id: one deleted meanwhile is left alone by the store.
  menu->addAction(tr("Update with Current Settings"), this, [this, id] { store_.updatePreset(*id); });
  menu->addAction(tr("Rename…"), this, [this, id] { startNaming({*id}); });
  menu->addSeparator();
  // Destructive: the desktop's delete symbol in the error red, as far as a menu item can be marked.
  menu->addAction(icon("trash", errorColor(menu->palette())), tr("Delete"), this,
                  [this, id] { store_.deletePreset(*id); });
  return menu;
}

void PresetsSection::move(const std::set<int>& rows, int destination) {
  if (!rows.empty()) store_.movePresets(rows, destination);
}

void PresetsSection::startNaming(NamingTarget target) {
  if (!store_.device() || (!target.rename && store_.presets().size() >= kMaxPresets)) return;
  QString name;
  QStringList taken;
  for (const Preset& preset : store_.presets()) {
    if (preset.id != target.rename) taken.append(preset.name);
  }
  if (target.rename) {
    const auto& presets = store_.presets();
    auto it = std::find_if(presets.begin(), presets.end(), [&](const Preset& p) { return p.id == *target.rename; });
    if (it == presets.end()) return;
    name = it->name;
  }
  dismissNaming();
  naming_ = target;
  namingFor_ = store_.device()->registryID;
  dialog_ = new PresetNameDialog(target.rename ? tr("Rename Preset") : tr("Save Preset"), name, taken, this);
  dialog_->setAttribute(Qt::WA_DeleteOnClose);
  connect(dialog_, &QDialog::finished, this, &PresetsSection::finishNaming);
  dialog_->open();
}

void PresetsSection::finishNaming(int result) {
  auto* dialog = qobject_cast<PresetNameDialog*>(sender());
  if (!dialog || dialog != dialog_) return;  // a dialog already dismissed
  const std::optional<NamingTarget> target = std::exchange(naming_, std::nullopt);
  dialog_ = nullptr;
  if (result != QDialog::Accepted || !target) return;
  const QString name = dialog->trimmedName();
  // Blank names save nothing; nor does a dialog that outlived its camera.
  if (name.isEmpty() || !store_.device() || store_.device()->registryID != namingFor_) return;
  if (target->rename) store_.renamePreset(*target->rename, name);
  else store_.savePreset(name);
}

void PresetsSection::dismissNaming() {
  naming_.reset();
  if (PresetNameDialog* dialog = std::exchange(dialog_, nullptr)) {
    dialog->disconnect(this);
    dialog->close();
  }
}

}  // namespace velto::views
