#include "app/ui/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "app/conversion/Conversion.h"

namespace vlt::app {

TForm1::TForm1(QWidget* Parent) : QWidget(Parent) {
  setWindowTitle("XLQ Backup Conversion Tool");
  setFixedSize(435, 156);
  QFont Base("Tahoma");
  setFont(Base);

  Label2 = new QLabel(
      "Select a backup to convert by clicking the Select Backup button and then click the "
      "Convert button.",
      this);
  QFont Bold(Base);
  Bold.setBold(true);
  Bold.setPixelSize(13);
  Label2->setFont(Bold);
  Label2->setAlignment(Qt::AlignCenter);
  Label2->setWordWrap(true);
  Label2->setGeometry(16, 8, 403, 40);

  FEdit = new QLineEdit(this);
  FEdit->setGeometry(16, 60, 300, 24);
  SelectBtn = new QPushButton("Select Backup", this);
  SelectBtn->setGeometry(324, 60, 95, 25);

  ConvertBtn = new QPushButton("Convert Backup", this);
  ConvertBtn->setGeometry(112, 112, 105, 27);
  ExBtn = new QPushButton("Exit", this);
  ExBtn->setGeometry(225, 112, 97, 27);

  Label1 = new QLabel("Please Wait ... Conversion in process", this);
  QFont Wait(Base);
  Wait.setPixelSize(19);
  Label1->setFont(Wait);
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setGeometry(16, 20, 403, 30);

  ProgBar = new QProgressBar(this);
  ProgBar->setRange(0, 100);
  ProgBar->setTextVisible(false);
  ProgBar->setGeometry(16, 64, 403, 20);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVisible(false);

  QObject::connect(SelectBtn, &QPushButton::clicked, this, [this] { SelectBtnClick(); });
  QObject::connect(ConvertBtn, &QPushButton::clicked, this, [this] { ConvertBtnClick(); });
  QObject::connect(ExBtn, &QPushButton::clicked, this, [this] { ExBtnClick(); });

  Label1->setVisible(false);
  ProgBar->setVisible(false);

  if (const QScreen* S = QGuiApplication::primaryScreen()) {
    QRect Area = S->availableGeometry();
    move(Area.center() - rect().center());
  }

  ConfirmStop = [this] {
    return QMessageBox::question(this, windowTitle(), kMsgStopConversion,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  };

  FConverter = std::make_unique<TConverter>(*this);
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  FConverter->FormCreate();
}

void TForm1::SelectBtnClick() {
  QString Chosen = QFileDialog::getExistingDirectory(this, kSelectCaption);
  FEdit->setText(QString::fromStdString(
      FConverter->SelectFolder(Chosen.toStdString(), FEdit->text().toStdString())));
}

void TForm1::ConvertBtnClick() {
  FStopRequested = false;
  TRunOutcome Outcome = TRunOutcome::NoBackups;
  try {
    Outcome = FConverter->ConvertData(FEdit->text().toStdString());
  } catch (const std::exception& E) {
    ShowError(E.what());
  }
  // Asked to stop on the way out: the run has cleaned up after itself.
  if (Outcome == TRunOutcome::Cancelled || FStopRequested) close();
}

bool TForm1::CancelRequested() {
  if (!FStopRequested && (!FSinceEvents.isValid() || FSinceEvents.elapsed() >= 100)) {
    QApplication::processEvents();
    FSinceEvents.start();
  }
  return FStopRequested;
}

void TForm1::closeEvent(QCloseEvent* Event) {
  if (!FConverting) {
    Event->accept();
    return;
  }
  // Closing would hide the window while the run goes on: stop it first, or stay.
  Event->ignore();
  if (!FStopRequested && ConfirmStop && ConfirmStop()) FStopRequested = true;
}

void TForm1::ExBtnClick() {
  close();
}

std::unique_ptr<QMessageBox> TForm1::MakeMessageBox(bool Error, const std::string& Text) {
  auto Box = std::make_unique<QMessageBox>(Error ? QMessageBox::Critical : QMessageBox::Information,
                                           windowTitle(), QString::fromStdString(Text),
                                           QMessageBox::Ok, this);
  if (!FDetails.empty()) {
    Box->setDetailedText(QString::fromStdString(FDetails));
    // The box's own "Show Details..." button is its only action button.
    if (FDetailsOpen)
      for (QAbstractButton* B : Box->buttons())
        if (Box->buttonRole(B) == QMessageBox::ActionRole) B->click();
  }
  return Box;
}

void TForm1::ShowError(const std::string& Text) {
  MakeMessageBox(true, Text)->exec();
}

void TForm1::ShowInformation(const std::string& Text) {
  MakeMessageBox(false, Text)->exec();
}

void TForm1::SetConverting(bool Converting) {
  FConverting = Converting;
  ConvertBtn->setVisible(!Converting);
  SelectBtn->setVisible(!Converting);
  FEdit->setVisible(!Converting);
  Label2->setVisible(!Converting);
  Label1->setVisible(Converting);
  ProgBar->setVisible(Converting);
  repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TForm1::SetProgressRange(int Min, int Max) {
  FProgress.SetRange(Min, Max);
  ProgBar->setRange(FProgress.Min(), FProgress.Max());
  ProgBar->setValue(FProgress.Position());
}

void TForm1::SetProgressStep(int Step) {
  FProgress.SetStep(Step);
}

void TForm1::SetProgressPosition(int Position) {
  FProgress.SetPosition(Position);
  ProgBar->setValue(FProgress.Position());
}

int TForm1::ProgressPosition() const {
  return FProgress.Position();
}

void TForm1::StepProgress() {
  FProgress.Step();
  ProgBar->setValue(FProgress.Position());
}

void TForm1::ProcessPendingEvents() {
  QApplication::processEvents();
}

}  // namespace vlt::app
