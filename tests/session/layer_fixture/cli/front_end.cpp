// velmo-cli reaching into the window: check_layers.sh must refuse it.
  #  include "app/scan_dlg.h"
