#include "app/UnitDuetra.h"
namespace bramblet {
void TBrambletMainForm::ActivatePlayerChannel() {}
void TBrambletMainForm::DeactivatePlayerChannel() {}
}
