#pragma once

#include <QString>

// The context-help profile: an INI file with a section per form (its class name) and a key per
// control, whose value is the control's topic. The profile beside an installed program cannot be
// written by its user; what is written then goes to the user's own copy (in the configuration
// folder, XDG_CONFIG_HOME), which from then on is read first and receives every later write.
class THelpProfile {
 public:
  explicit THelpProfile(QString fileName);

  const QString& FileName() const { return FFileName; }
  // ~/.config/Orvanta/Velmora/ and the profile's own file name.
  QString UserCopyFileName() const;

  // The value of the key; empty when neither the user's copy nor the profile has it.
  QString Read(const QString& section, const QString& key) const;
  // Writes the value where it will be read back; raises Exception when no file can take it.
  void Write(const QString& section, const QString& key, const QString& value);

 private:
  bool CanWriteOriginal() const;
  void MakeUserCopy(const QString& copy) const;

  QString FFileName;
};
