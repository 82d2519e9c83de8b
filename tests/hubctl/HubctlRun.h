#pragma once
// One command line of halvek-hubctl run in-process, with its output caught.

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>

#include "Hubctl.h"

struct THubctlOutcome {
  EHubctlExit code = ExitCodeFromStatus(-1);  // -1: the command did not end
  QString out;
  QString err;
  QString All() const { return out + err; }
};

// `prepare` sets up the environment (its streams are the outcome's); `during` sees the program
// before the command starts (to arrange interrupts, say), `after` once it has ended.
inline THubctlOutcome RunHubctlWith(const QStringList& args,
                                    const std::function<void(THubctlEnvironment&)>& prepare = {},
                                    const std::function<void(THubctl&)>& during = {},
                                    const std::function<void(THubctl&)>& after = {}) {
  THubctlOutcome o;
  QTextStream out(&o.out);
  QTextStream err(&o.err);
  THubctlEnvironment env;
  env.out = &out;
  env.err = &err;
  if (prepare)
    prepare(env);
  {
    THubctl hubctl(env);
    if (during)
      during(hubctl);
    o.code = hubctl.Run(args);
    if (after)
      after(hubctl);
  }
  out.flush();
  err.flush();
  return o;
}
