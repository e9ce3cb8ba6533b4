#pragma once
struct vlTable {
  int (*ask)(int value);
  void (*never)();
  void (*flat)();
  void (*ordered)();
  void (*unused)();
};
extern vlTable gTable;
