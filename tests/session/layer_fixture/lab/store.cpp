// A store in a folder no layer names: check_layers.sh must refuse the folder.
int LabRuns();
