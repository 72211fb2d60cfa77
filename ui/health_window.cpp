#include "ui/health_window.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "sources/health_check.h"
#include "sources/source_table.h"
#include "ui/list_rows.h"
#include "ui/qt_text.h"
#include "ui/window_places.h"

namespace tovani::ui {
namespace {

// "正常 12 ms", "跳过", or what went wrong in a few words and the site's reason.
std::string step_cell(const HealthStep& step) {
    switch (step.state) {
    case StepState::passed:
        return gbk("正常 ") + std::to_string(step.elapsed.count()) + " ms";
    case StepState::skipped:
        return gbk("跳过");
    case StepState::failed:
        break;
    }
    return outcome_text(step.outcome);
}

} // namespace

HealthWindow::HealthWindow(const SourceTable& sources, QWidget* opener)
    : QWidget(nullptr), sources_(sources) {
    setObjectName(QStringLiteral("检查书源窗口"));
    setWindowTitle(QStringLiteral("检查书源"));
    auto* layout = new QVBoxLayout(this);
    table_ = make_report_list(this, {{QStringLiteral("书源"), 110},
                                     {QStringLiteral("主机"), 150},
                                     {QStringLiteral("搜索"), 150},
                                     {QStringLiteral("章节"), 150},
                                     {QStringLiteral("正文"), 150}});
    table_->setObjectName(QStringLiteral("检查结果"));
    table_->header()->setStretchLastSection(true);
    layout->addWidget(table_);
    auto* bottom = new QHBoxLayout;
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("检查摘要"));
    summary_->setTextFormat(Qt::PlainText);
    again_ = new QPushButton(QStringLiteral("重新检查"), this);
    again_->setObjectName(QStringLiteral("重新检查"));
    connect(again_, &QPushButton::clicked, this, &HealthWindow::check);
    bottom->addWidget(summary_, 1);
    bottom->addWidget(again_);
    layout->addLayout(bottom);
    resize(760, 360);
    place_window(this, opener);
    check();
}

void HealthWindow::check() {
    if (checking_) {
        return;
    }
    checking_ = true;
    again_->setEnabled(false);
    table_->clear();
    summary_->setText(QStringLiteral("正在检查……"));
    std::vector<BookSource> sources(sources_.sources());
    runner_.run([sources] { return check_sources_health(source_pointers(sources)); },
                [this](const std::vector<HealthReport>& reports) {
                    std::vector<std::vector<std::string>> rows;
                    int passed = 0;
                    for (const HealthReport& r : reports) {
                        const BookSource* s = sources_.find(r.source);
                        rows.push_back({s ? source_label(*s) : std::to_string(r.source),
                                        s ? utf8_to_text(s->host) : std::string(),
                                        step_cell(r.search), step_cell(r.chapters),
                                        step_cell(r.text)});
                        passed += r.passed() ? 1 : 0;
                    }
                    append_rows(table_, rows);
                    summary_->setText(QStringLiteral("%1 个书源正常，%2 个有问题")
                                          .arg(passed)
                                          .arg(static_cast<int>(reports.size()) - passed));
                    checking_ = false;
                    again_->setEnabled(true);
                    emit checked();
                });
}

void HealthWindow::closeEvent(QCloseEvent* event) {
    remember_window_place(this);
    QWidget::closeEvent(event);
}

} // namespace tovani::ui
