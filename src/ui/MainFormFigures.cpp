// What the main window shows of a port or link beyond its options: the live figures
// of the selected node, the port's path with its Copy button, the tray icon's
// tooltip and the hint over the empty tree.
#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include "console/NodeTexts.h"
#include "ui/LiveFigures.h"
#include "ui/MainForm.h"
#include "ui/NodeTag.h"

namespace {

// Lines `from` to `to` of the figures, each elided at the right to the label's
// width; the whole story in its tooltip.
void ShowFigures(QLabel* label, const FigureText& figures, qsizetype from = 0, qsizetype to = -1)
{
    const QFontMetrics metrics(label->font());
    QStringList lines;
    if (to < 0 || to > figures.Lines.size())
        to = figures.Lines.size();
    for (qsizetype i = from; i < to; ++i)
        lines << metrics.elidedText(figures.Lines[i], Qt::ElideRight, label->width());
    const QString text = lines.join('\n');
    if (label->text() != text)
        label->setText(text);
    if (label->toolTip() != figures.Full)
        label->setToolTip(figures.Full);
}

} // namespace

// One hold of the lock for the selected port alone, and only while the figures can
// be seen: the refresh stays as cheap as the tree's with hundreds of ports.
void TMainForm::RefreshFigures()
{
    if (!isVisible() || !Model)
        return;
    QTreeWidgetItem* node = SelectedNode();
    NodeTag* tag = TTreeNode::TagOf(node);
    if (!tag)
        return;
    if (CPortObject* port = tag->Port()) {
        const ConsoleStatus status = Model->PortStatus(port);
        if (!status.Ports.empty()) {
            const FigureText figures = PortFigures(status.Ports.front());
            ShowFigures(PortTrafficLabel, figures, 0, 1);
            ShowFigures(PortFiguresLabel, figures, 1);
        }
        return;
    }
    const ConsoleStatus status = Model->Status(TTreeNode::PortOf(node->parent()), tag->Link());
    if (status.Ports.empty() || status.Ports.front().Links.empty())
        return;
    ShowFigures(LinkFiguresLabel, LinkFigures(status.Ports.front().Links.front()));
}

void TMainForm::ShowPortPlace(CPortObject* port)
{
    PortPlace = QFile::decodeName(PortPlaceText(*port).c_str());
    const QFontMetrics metrics(PortPathLabel->font());
    PortPathLabel->setText(metrics.elidedText(PortPlace, Qt::ElideMiddle, PortPathLabel->width()));
    PortPathLabel->setToolTip(PortPlace);
}

void TMainForm::CopyPathButtonClick()
{
    if (CPortObject* port = TTreeNode::PortOf(SelectedNode())) {
        ShowPortPlace(port);
        QGuiApplication::clipboard()->setText(PortPlace);
    }
}

// The caption; with a single port, also where applications open it.
void TMainForm::UpdateTrayToolTip()
{
    QString tip = windowTitle();
    if (PortTreeView->topLevelItemCount() == 1) {
        if (CPortObject* port = TTreeNode::PortOf(PortTreeView->topLevelItem(0)))
            tip += '\n' + QFile::decodeName(PortPlaceText(*port).c_str());
    }
    if (TrayIcon1->toolTip() != tip)
        TrayIcon1->setToolTip(tip);
}

void TMainForm::UpdateEmptyTreeHint()
{
    EmptyTreeHint->setVisible(PortTreeView->topLevelItemCount() == 0);
}
