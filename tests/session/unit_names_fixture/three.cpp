namespace {
int Counted() { return 3; }
}  // namespace
int Unique() { return Counted(); }
