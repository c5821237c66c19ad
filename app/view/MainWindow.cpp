// The main window: its widgets at the design geometry, the events it forwards to the
// workspace, and the display of the workspace's state.
#include "MainWindow.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <exception>

namespace {

void ApplyGeometry(QWidget* w, const TControl& c) {
  w->setGeometry(c.Left, c.Top, std::max(0, c.Width), std::max(0, c.Height));
}

QColor ToQColor(TColor c) {
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

QFrame* MakePanel(QWidget* parent, const TPanel& panel) {
  auto* frame = new QFrame(parent);
  if (panel.Bordered) {
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
  } else {
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
  }
  frame->setAutoFillBackground(true);
  QPalette pal = frame->palette();
  pal.setColor(QPalette::Window, ToQColor(panel.Color));
  frame->setPalette(pal);
  ApplyGeometry(frame, panel);
  return frame;
}

TImageButton* MakeButton(QWidget* parent, const TButton& b) {
  auto* button = new TImageButton(parent, b.ImageMarginLeft);
  button->setText(QString::fromStdString(b.Caption));
  if (b.ImageIndex >= 0) {
    button->setIcon(MakeVitrelleIcon(b.ImageIndex));
    button->setIconSize(QSize(32, 32));
  }
  if (!b.Hint.empty()) button->setToolTip(QString::fromStdString(b.Hint));
  button->setFocusPolicy(Qt::TabFocus);
  ApplyGeometry(button, b);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const TLabel& l) {
  auto* label = new QLabel(QString::fromStdString(l.Caption), parent);
  label->move(l.Left, l.Top);
  label->adjustSize();
  return label;
}

// The corner handles of the product in perspective, over the photo and the product; the
// mouse goes through to them (the workspace decides what a press on a handle does).
class THandleOverlay : public QWidget {
 public:
  THandleOverlay(QWidget* parent, TFrmModulePhoto& form) : QWidget(parent), FForm(form) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!FForm.InPerspectiveMode()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const TQuad quad = FForm.ProductCornersInWindow();
    QPolygonF outline;
    for (const TPointD& c : quad) outline << QPointF(c.X - x(), c.Y - y());
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::white, 1, Qt::SolidLine));
    painter.drawPolygon(outline);
    painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
    painter.drawPolygon(outline);
    const double half = TFrmModulePhoto::kHandleSize / 2.0;
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::white);
    for (const QPointF& c : outline)
      painter.drawRect(QRectF(c.x() - half, c.y() - half, 2 * half, 2 * half));
  }

 private:
  TFrmModulePhoto& FForm;
};

}  // namespace

TMainWindow::TMainWindow(QWidget* parent) : QWidget(parent) {
  FHost = std::make_unique<TQtHost>(this);
  FForm = std::make_unique<TFrmModulePhoto>(FHost.get());
  BuildWidgets();
  ConnectEvents();
  BindDropsAndKeys(*this);
  Sync();
}

TMainWindow::~TMainWindow() = default;

void TMainWindow::BuildWidgets() {
  TFrmModulePhoto& f = *FForm;
  setWindowTitle(QString::fromUtf8(f.Caption.c_str()));
  // The design's minimum of 1024 x 768 counts the window frame; its client area at that
  // size is the design's 1008 x 730.
  setMinimumSize(f.ClientWidth, f.ClientHeight);
  resize(f.ClientWidth, f.ClientHeight);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, ToQColor(f.Color));
  setPalette(pal);
  QFont font(QString::fromStdString(f.FontName));
  font.setPixelSize(f.FontHeight);
  font.setStyleHint(QFont::SansSerif);
  setFont(font);

  ImgPhotoMaison = new TPictureWidget(this);
  ImgPhotoMaison->setCursor(Qt::CrossCursor);
  ImgProduit = new TPictureWidget(this);
  ImgProduit->raise();  // above the photo, so it gets the presses on the product
  Handles = new THandleOverlay(this, f);
  Handles->raise();

  scBxInfos = new QScrollArea(this);
  scBxInfos->setWidgetResizable(false);
  FPanelContent = new QWidget();
  FPanelContent->resize(f.scBxInfos.Width - 4, 723 + 4);
  scBxInfos->setWidget(FPanelContent);  // the scroll area owns it

  panApercu = MakePanel(FPanelContent, f.panApercu);
  ImgProduitApercu = new TPictureWidget(panApercu);
  ApplyGeometry(ImgProduitApercu, f.ImgProduitApercu);

  pnlGestionImg = MakePanel(FPanelContent, f.pnlGestionImg);
  btnProduitPhoto = MakeButton(pnlGestionImg, f.btnProduitPhoto);
  btnEffProduit = MakeButton(pnlGestionImg, f.btnEffProduit);
  BtnClientPhoto = MakeButton(pnlGestionImg, f.BtnClientPhoto);
  btnEffClient = MakeButton(pnlGestionImg, f.btnEffClient);

  pnlLargeur = MakePanel(FPanelContent, f.pnlLargeur);
  lblOptions = MakeLabel(pnlLargeur, f.lblOptions);
  btnPropor = MakeButton(pnlLargeur, f.btnPropor);
  btnPerso = MakeButton(pnlLargeur, f.btnPerso);
  lblMention = MakeLabel(pnlLargeur, f.lblMention);
  cbMention = new QComboBox(pnlLargeur);
  cbMention->setEditable(false);
  for (const std::string& item : f.cbMention.Items)
    cbMention->addItem(QString::fromStdString(item));
  cbMention->setGeometry(f.cbMention.Left, f.cbMention.Top, f.cbMention.Width,
                         std::max(f.cbMention.Height, cbMention->sizeHint().height()));

  panInfos = MakePanel(FPanelContent, f.panInfos);
  btnExportImage = MakeButton(panInfos, f.btnExportImage);
  lblInstruction = new QLabel(panInfos);
  ApplyGeometry(lblInstruction, f.lblInstruction);
  lblInstruction->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  lblInstruction->setWordWrap(f.lblInstruction.WordWrap);
  QFont bold(QString::fromStdString(f.FontName));
  bold.setStyleHint(QFont::SansSerif);
  bold.setPixelSize(f.lblInstruction.FontHeight);
  bold.setBold(f.lblInstruction.Bold);
  lblInstruction->setFont(bold);
}

void TMainWindow::ConnectEvents() {
  TFrmModulePhoto& f = *FForm;
  auto onClick = [this](QPushButton* button, void (TFrmModulePhoto::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { Guarded([this, handler] { (FForm.get()->*handler)(); }); });
  };
  onClick(btnProduitPhoto, &TFrmModulePhoto::btnProduitPhotoClick);
  onClick(btnEffProduit, &TFrmModulePhoto::btnEffProduitClick);
  onClick(BtnClientPhoto, &TFrmModulePhoto::BtnClientPhotoClick);
  onClick(btnEffClient, &TFrmModulePhoto::btnEffClientClick);
  onClick(btnPropor, &TFrmModulePhoto::btnProporClick);
  onClick(btnPerso, &TFrmModulePhoto::btnPersoClick);
  onClick(btnExportImage, &TFrmModulePhoto::btnExportImageClick);
  // activated: the user's choices only, as the change handler wants.
  connect(cbMention, &QComboBox::activated, this,
          [this, &f](int index) { Guarded([&f, index] { f.SelectMention(index); }); });

  // While the corner handles are shown the workspace sees the left button first, in
  // window coordinates; what it leaves goes to the window's own handlers.
  ImgPhotoMaison->OnMouseDown = [this, &f](TMouseButton b, TShiftState s, int x, int y) {
    Guarded([&] {
      if (!f.CornerMouseDown(b, x, y)) f.ImgPhotoMaisonMouseDown(b, s, x, y);
    });
  };
  ImgPhotoMaison->OnMouseMove = [this, &f](TShiftState s, int x, int y) {
    if (f.CornerDragging()) {
      Guarded([&] { f.CornerMouseMove(x, y); });
      return;
    }
    if (!f.isDrawing) return;  // nothing to show for a move without a frame
    GuardedFrameMove([&] { f.ImgPhotoMaisonMouseMove(s, x, y); });
  };
  ImgPhotoMaison->OnMouseUp = [this, &f](TMouseButton b, TShiftState s, int x, int y) {
    Guarded([&] {
      if (!f.CornerMouseUp(b, x, y)) f.ImgPhotoMaisonMouseUp(b, s, x, y);
    });
  };
  // The product control moves during a corner drag: its events are taken to window
  // coordinates through where it is now.
  ImgProduit->OnMouseDown = [this, &f](TMouseButton b, TShiftState s, int x, int y) {
    const int wx = x + ImgProduit->x(), wy = y + ImgProduit->y();
    Guarded([&] {
      if (!f.CornerMouseDown(b, wx, wy)) f.ImgProduitMouseDown(b, s, x, y);
    });
  };
  ImgProduit->OnMouseMove = [this, &f](TShiftState s, int x, int y) {
    if (f.CornerDragging()) {
      const int wx = x + ImgProduit->x(), wy = y + ImgProduit->y();
      Guarded([&] { f.CornerMouseMove(wx, wy); });
      return;
    }
    if (!f.isDragging) return;
    Guarded([&] { f.ImgProduitMouseMove(s, x, y); });
  };
  ImgProduit->OnMouseUp = [this, &f](TMouseButton b, TShiftState s, int x, int y) {
    const int wx = x + ImgProduit->x(), wy = y + ImgProduit->y();
    Guarded([&] {
      if (!f.CornerMouseUp(b, wx, wy)) f.ImgProduitMouseUp(b, s, x, y);
    });
  };
  ImgPhotoMaison->OnContextMenu = [this](QPoint at) { ShowContextMenu(at); };
  ImgProduit->OnContextMenu = [this](QPoint at) { ShowContextMenu(at); };
}

std::unique_ptr<QMenu> TMainWindow::MakeContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  for (const TMenuEntry& entry : FForm->ContextMenu()) {
    QString text = QString::fromStdString(entry.Caption);
    if (!entry.Shortcut.empty()) text += '\t' + QString::fromStdString(entry.Shortcut);
    QAction* action = menu->addAction(text);
    action->setEnabled(entry.Enabled);
    const TMenuCommand command = entry.Command;
    connect(action, &QAction::triggered, this,
            [this, command] { Guarded([this, command] { FForm->RunMenuCommand(command); }); });
  }
  return menu;
}

void TMainWindow::ShowContextMenu(QPoint globalPos) {
  std::unique_ptr<QMenu> menu = MakeContextMenu();
  if (ContextMenuHook) ContextMenuHook(*menu);
  menu->exec(globalPos);
}

void TMainWindow::Guarded(const std::function<void()>& handler) {
  bool failed = false;
  std::string message;
  auto run = [&](const std::function<void()>& step) {
    try {
      step();
    } catch (const EAbort&) {
      // the silent abort: no message
    } catch (const std::exception& e) {
      if (!failed) message = e.what();
      failed = true;
    } catch (...) {
      failed = true;  // not an exception object: shown with an empty message
    }
  };
  run(handler);
  run([this] { Sync(); });  // what the handler changed, even when it failed midway
  if (failed) ShowException(message);
}

void TMainWindow::GuardedFrameMove(const std::function<void()>& handler) {
  std::exception_ptr failure;
  try {
    handler();
  } catch (...) {
    failure = std::current_exception();
  }
  TFrmModulePhoto& f = *FForm;
  std::vector<QRect> changed;
  const std::vector<TRect> damage = f.TakeFrameDamage();
  const double ratio = DeviceRatio();
  bool followed = !failure;
  if (followed && ratio == 1) {
    followed = ApplyFrameDamage(f.ImgPhotoMaison, FPhotoRendering, ImgPhotoMaison->EditImage(),
                                damage, changed);
  } else if (followed && FDevicePhoto.Update(f, ratio, ImgPhotoMaison->EditImage(), changed)) {
    ImgPhotoMaison->update();
    changed.assign(1, ImgPhotoMaison->rect());
  }
  if (!followed) {
    // The usual route: the message, then the whole window as the handler left it.
    Guarded([&] {
      if (failure) std::rethrow_exception(failure);
    });
    return;
  }
  ImgPhotoMaison->Repaint(changed);
  // The product shows the photo beneath it: redraw it when the frame passed under it (or
  // by its edge, whose device pixels it shares with the photo on high-density screens).
  const QRect product = ImgProduit->geometry().adjusted(-1, -1, 1, 1);
  if (ImgProduit->isVisibleTo(this) &&
      std::any_of(changed.begin(), changed.end(),
                  [&](const QRect& r) { return r.intersects(product); }))
    ShowProduct();
}

double TMainWindow::DeviceRatio() const {
  return devicePixelRatioF();
}

void TMainWindow::ShowPhoto() {
  TFrmModulePhoto& f = *FForm;
  const double ratio = DeviceRatio();
  if (ratio == 1) {
    RenderImageControl(f.ImgPhotoMaison, FPhotoRendering, f.Color);
    ImgPhotoMaison->SetImage(ToQImage(FPhotoRendering));
    return;
  }
  // Kept while the mock-up stays the same: a product or corner drag shows only what
  // changed, never the whole photo drawn again at the screen's resolution.
  std::vector<QRect> changed;
  if (FDevicePhoto.Update(f, ratio, ImgPhotoMaison->EditImage(), changed))
    ImgPhotoMaison->update();
  else
    ImgPhotoMaison->Repaint(changed);
}

void TMainWindow::ShowProduct() {
  if (DeviceRatio() != 1) {
    QPoint origin;
    std::vector<QRect> changed;
    QImage image = FDevicePhoto.RenderProduct(*FForm, origin, ImgPhotoMaison->EditImage(), changed);
    ImgPhotoMaison->Repaint(changed);
    ImgProduit->SetImage(std::move(image), origin);
    return;
  }
  TBitmap productRendering;
  RenderPlacedProduct(*FForm, FPhotoRendering, productRendering);
  ImgProduit->SetImage(ToQImage(productRendering));
}

void TMainWindow::ShowException(const std::string& message) {
  if (ExceptionHook) {
    ExceptionHook(message);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(txtApplicationTitle),
                  QString::fromStdString(message), QMessageBox::Ok, this);
  box.exec();
}

void TMainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FActivationPosted) return;
  FActivationPosted = true;
  // Moved to a screen of another density: the photo is drawn for it.
  if (QWindow* handle = windowHandle())
    connect(handle, &QWindow::screenChanged, this, [this] { Guarded([] {}); });
  // Once the window is on screen, so that a failing preview's message box has a parent.
  QTimer::singleShot(0, this, [this] { Guarded([this] { FForm->FormActivate(); }); });
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Guarded([this] { FForm->SetClientSize(width(), height()); });
}

void TMainWindow::Sync() {
  TFrmModulePhoto& f = *FForm;
  f.TakeFrameDamage();  // the photo is shown below as the workspace left it
  ApplyGeometry(ImgPhotoMaison, f.ImgPhotoMaison);
  ImgPhotoMaison->setEnabled(f.ImgPhotoMaison.Enabled);
  ShowPhoto();

  ApplyGeometry(ImgProduit, f.ImgProduit);
  ImgProduit->setVisible(f.ImgProduit.Visible && f.ImgProduit.Width > 0 && f.ImgProduit.Height > 0);
  if (ImgProduit->isVisibleTo(this)) {
    ShowProduct();
  } else if (DeviceRatio() != 1) {
    std::vector<QRect> changed;
    FDevicePhoto.RemoveProduct(ImgPhotoMaison->EditImage(), changed);
    ImgPhotoMaison->Repaint(changed);
  }

  Handles->setGeometry(ImgPhotoMaison->geometry());
  Handles->setVisible(f.InPerspectiveMode());
  Handles->raise();
  Handles->update();

  ApplyGeometry(scBxInfos, f.scBxInfos);
  // The preview changes only when its picture is replaced: not at every mouse move.
  if (!FPreviewShown || FPreviewRevision != f.ImgProduitApercu.Revision) {
    TBitmap preview;
    RenderImageControl(f.ImgProduitApercu, preview, f.panApercu.Color);
    ImgProduitApercu->SetImage(ToQImage(preview));
    FPreviewRevision = f.ImgProduitApercu.Revision;
    FPreviewShown = true;
  }

  const std::pair<TImageButton*, const TButton*> buttons[] = {{btnProduitPhoto, &f.btnProduitPhoto},
                                                              {btnEffProduit, &f.btnEffProduit},
                                                              {BtnClientPhoto, &f.BtnClientPhoto},
                                                              {btnEffClient, &f.btnEffClient},
                                                              {btnPropor, &f.btnPropor},
                                                              {btnPerso, &f.btnPerso},
                                                              {btnExportImage, &f.btnExportImage}};
  for (const auto& [widget, state] : buttons) {
    widget->setEnabled(state->Enabled);
    widget->setVisible(state->Visible);
  }

  cbMention->setEnabled(f.cbMention.Enabled);
  if (cbMention->currentIndex() != f.cbMention.ItemIndex) {
    const QSignalBlocker block(cbMention);
    cbMention->setCurrentIndex(f.cbMention.ItemIndex);
  }

  lblInstruction->setText(QString::fromUtf8(f.lblInstruction.Caption.c_str()));
  QPalette pal = lblInstruction->palette();
  pal.setColor(QPalette::WindowText, ToQColor(f.lblInstruction.FontColor));
  lblInstruction->setPalette(pal);
}
