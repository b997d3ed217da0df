#include "views/flag_toggle.h"

#include <QCheckBox>
#include <QLabel>
#include <QStyle>
#include <QVBoxLayout>

#include "model/camera_store.h"

namespace velto::views {

FlagToggle::FlagToggle(CameraStore& store, ControlID id, std::optional<QString> subtitle, QWidget* parent)
    : QWidget(parent), store_(store), id_(id) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  const auto name = title(id);
  check_ = new QCheckBox(QString::fromUtf8(name.data(), qsizetype(name.size())), this);
  column->addWidget(check_);
  if (subtitle) {
    subtitle_ = new QLabel(*subtitle, this);
    subtitle_->setWordWrap(true);
    subtitle_->setForegroundRole(QPalette::PlaceholderText);
    QFont small = subtitle_->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    subtitle_->setFont(small);
    // Under the check box's text, not under its indicator.
    const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check_) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check_);
    subtitle_->setContentsMargins(indent, 0, 0, 0);
    check_->setAccessibleDescription(*subtitle);
    column->addWidget(subtitle_);
  }
  connect(check_, &QCheckBox::clicked, this, [this](bool on) {
    store_.set(id_, on ? 1 : 0);
    render();
  });
  connect(&store_, &CameraStore::deviceChanged, this, &FlagToggle::render);
  connect(&store_, &CameraStore::valuesChanged, this, &FlagToggle::render);
  render();
}

void FlagToggle::render() {
  setVisible(store_.supports(id_));
  check_->setChecked(store_.value(id_) != 0);
}

}  // namespace velto::views
