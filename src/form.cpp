// Form: the module picture window, two pictures of the chosen model's group side by side.
#include "form.h"
#include "ui_form.h"

Form::Form(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Form)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("模块详情图"));
}

Form::~Form()
{
    delete ui;
}
