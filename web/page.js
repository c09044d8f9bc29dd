// The page's glue: the DOM, the file chooser, the boxes and the page's own notices, over the core
// in WebAssembly (createKfwCore, built from web/page_main.cpp). The window's logic, the ports, the
// browser's MIDI and every procedure run in the core; this only builds the windows from their
// templates, hands the controls' notifications to the core one command at a time, and does what
// the core asks of the page (Module.kfwPage).
"use strict";

(() => {
  // Notification codes and commands, as the window's logic numbers them (ui/logic).
  const kClicked = 0;
  const kOkCommand = 1;
  const kEscapeCommand = 2;
  const kListSelectionChange = 1;
  const kListSetFocus = 3;
  const kListKillFocus = 4;
  const kFieldSetFocus = 0x0100;
  const kFieldKillFocus = 0x0200;
  const kFieldChange = 0x0300;
  const kFieldUpdate = 0x0400;
  const kUpdateButton = 1001;

  const html = document.documentElement;
  const mainWindow = document.getElementById("main-window");
  const mainClient = document.getElementById("main-client");
  const progressDialog = document.getElementById("progress-window");
  const progressClient = document.getElementById("progress-client");
  const box = document.getElementById("box");
  const notices = document.getElementById("notices");
  const settings = document.getElementById("settings");
  const saveTrace = document.getElementById("save-trace");
  const chooser = document.getElementById("file-chooser");

  let core = null;
  let ended = false;
  let procedureRunning = false;
  const mainControls = new Map();  // control ID -> element
  const progressControls = new Map();

  function isExit(error) {
    return error && error.name === "ExitStatus";
  }

  function addNotice(text, problem) {
    const notice = document.createElement("p");
    notice.className = problem ? "notice problem" : "notice";
    notice.textContent = text;
    notices.append(notice);
    return notice;
  }

  function failed(error) {
    if (isExit(error)) return;
    console.error(error);
    addNotice("The page failed: " + (error && error.stack ? error.stack : error), true);
  }

  // --- The windows, from their templates -------------------------------------------------------

  // The page's font in a window's client area: the width of the letters that give its dialog
  // units, and the height of a line, as the windows measure theirs.
  function measureFont(letters) {
    const probe = document.createElement("span");
    probe.textContent = letters;
    probe.style.cssText = "position:absolute;visibility:hidden;white-space:nowrap;line-height:normal";
    mainClient.append(probe);
    const box = probe.getBoundingClientRect();
    probe.remove();
    return [Math.round(box.width), Math.round(box.height)];
  }

  function place(element, control) {
    element.id = control.element;
    element.style.left = control.x + "px";
    element.style.top = control.y + "px";
    element.style.width = control.width + "px";
    element.style.height = control.height + "px";
  }

  // One element for each control, in the template's (tab) order. Labels tied to the control they
  // name; the value fields are outputs, labelled the same way.
  function build(client, dialog, controls) {
    client.style.width = dialog.width + "px";
    client.style.height = dialog.height + "px";
    for (const control of dialog.controls) {
      let element;
      switch (control.kind) {
        case "button":
        case "defaultButton":
          element = document.createElement("button");
          element.type = "button";
          element.textContent = control.text;
          if (control.kind === "defaultButton") element.className = "default";
          break;
        case "edit":
          element = document.createElement("input");
          element.type = "text";
          element.spellcheck = false;
          element.autocomplete = "off";
          break;
        case "portList":
          element = document.createElement("select");
          break;
        case "bar":
          element = document.createElement("progress");
          element.max = 100;
          element.value = 0;
          break;
        default:
          if (control.names) {
            element = document.createElement("label");
            element.htmlFor = control.names;
          } else if (control.id !== -1 && control.text === "" && control.kind === "label") {
            element = document.createElement("output");
          } else {
            element = document.createElement("span");
            // The colons only line the values up.
            if (control.text === ":") element.setAttribute("aria-hidden", "true");
          }
          element.classList.add("label");
          if (control.kind === "centredLabel") element.classList.add("centred");
          element.textContent = control.text;
      }
      place(element, control);
      if (control.disabled) element.disabled = true;
      client.append(element);
      if (control.id !== -1) controls.set(control.id, element);
    }
    // The bar is told by the caption line above it.
    const caption = client.querySelector(".centred");
    const bar = client.querySelector("progress");
    if (caption && bar) bar.setAttribute("aria-labelledby", caption.id);
  }

  // --- The notifications, one command at a time ------------------------------------------------

  // A command that may wait runs with its stack suspended at every wait; Asyncify keeps one such
  // stack, so the next command starts only when this one has returned. What the controls raise
  // meanwhile (a field losing the focus to a box, say) is handled then, in order, as a dialog
  // handles the messages that queued up while its thread was busy.
  const queue = [];
  let pumping = false;

  function enqueue(call) {
    queue.push(call);
    if (!pumping) pump();
  }

  async function pump() {
    pumping = true;
    while (queue.length && !ended) {
      const call = queue.shift();
      try {
        await call();
      } catch (error) {
        failed(error);
      }
    }
    pumping = false;
  }

  function command(name, types, values) {
    return core.ccall(name, null, types, values, {async: true});
  }

  function notify(id, code) {
    enqueue(() => command("kfw_page_notify", ["number", "number"], [id, code]));
  }

  // Set while the page itself moves the focus (a dialog opens or closes, the window goes inert):
  // the name field's focus that leaves for a box and comes back with the window is no new visit,
  // as the windows tell it.
  let pageMovesFocus = false;
  function movingFocus(action) {
    pageMovesFocus = true;
    try {
      action();
    } finally {
      pageMovesFocus = false;
    }
  }

  function wire() {
    for (const [id, element] of mainControls) {
      if (element instanceof HTMLButtonElement) {
        element.addEventListener("click", () => notify(id, kClicked));
      } else if (element instanceof HTMLSelectElement) {
        element.addEventListener("change", () => notify(id, kListSelectionChange));
        element.addEventListener("focus", () => notify(id, kListSetFocus));
        element.addEventListener("blur", () => notify(id, kListKillFocus));
      } else if (element instanceof HTMLInputElement) {
        let lossReported = false;
        element.addEventListener("input", () => {
          lossReported = false;
          notify(id, kFieldUpdate);
          notify(id, kFieldChange);
        });
        element.addEventListener("focus", () => {
          if (!pageMovesFocus) lossReported = false;
          notify(id, kFieldSetFocus);
        });
        element.addEventListener("blur", () => {
          if (pageMovesFocus && lossReported) return;
          lossReported = true;
          notify(id, kFieldKillFocus);
        });
      }
    }
    // Enter in a list or the field is the default button's click while it is enabled, as in a
    // dialog (a focused button takes Enter itself); Escape is a command like any other.
    mainClient.addEventListener("keydown", (event) => {
      if (event.key === "Escape") {
        event.preventDefault();
        notify(kEscapeCommand, kClicked);
      } else if (event.key === "Enter" && !(event.target instanceof HTMLButtonElement)) {
        event.preventDefault();
        const update = mainControls.get(kUpdateButton);
        if (update && !update.disabled) {
          notify(kUpdateButton, kClicked);
        } else {
          notify(kOkCommand, kClicked);
        }
      }
    });
    progressControls.get(1011).addEventListener("click", () => core._kfw_page_cancel());
    // Escape does nothing in the progress window.
    progressDialog.addEventListener("keydown", (event) => {
      if (event.key === "Escape") event.preventDefault();
    });
    progressDialog.addEventListener("cancel", (event) => event.preventDefault());
  }

  // --- What the core asks of the page ----------------------------------------------------------

  let answerBox = null;

  // kind: "error" and "success" have OK; "question" and "fatal" Yes and No, No the default.
  function showBox(kind, caption, text) {
    return new Promise((resolve) => {
      document.getElementById("box-caption").textContent = caption;
      document.getElementById("box-text").textContent = text;
      const buttons = box.querySelector(".box-buttons");
      buttons.replaceChildren();
      const asks = kind === "question" || kind === "fatal";
      let initial = null;
      for (const [label, answer] of asks ? [["Yes", "yes"], ["No", "no"]] : [["OK", "ok"]]) {
        const button = document.createElement("button");
        button.type = "button";
        button.textContent = label;
        button.addEventListener("click", () => answerBox && answerBox(answer));
        buttons.append(button);
        initial = button;
      }
      box.dataset.kind = kind;
      box.dataset.shown = String(Number(box.dataset.shown || 0) + 1);
      answerBox = (answer) => {
        answerBox = null;
        movingFocus(() => box.close());
        resolve(answer);
      };
      movingFocus(() => {
        box.showModal();
        initial.focus();
      });
    });
  }

  // A question is answered with its buttons only; Escape closes a box that has only OK.
  box.addEventListener("cancel", (event) => {
    event.preventDefault();
    const asks = box.dataset.kind === "question" || box.dataset.kind === "fatal";
    if (!asks && answerBox) answerBox("ok");
  });

  let wakeLock = null;
  async function keepScreenAwake() {
    if (!procedureRunning || wakeLock || !navigator.wakeLock) return;
    if (document.visibilityState !== "visible") return;
    try {
      wakeLock = await navigator.wakeLock.request("screen");
      wakeLock.addEventListener("release", () => {
        wakeLock = null;
      });
      if (!procedureRunning) wakeLock.release();
    } catch (error) {
      wakeLock = null;  // refused (a saving mode, a policy): the update goes on without it
    }
  }
  // The browser lets the lock go when the page is hidden; it is asked for again when the page
  // shows, while the procedure still runs.
  document.addEventListener("visibilitychange", () => keepScreenAwake());

  window.addEventListener("beforeunload", (event) => {
    if (!procedureRunning) return;
    event.preventDefault();
    event.returnValue = "";
  });

  function setChecks(bits) {
    settings.elements.log.checked = (bits & 1) !== 0;
    settings.elements.simulator.checked = (bits & 2) !== 0;
    settings.elements.fast.checked = (bits & 4) !== 0;
    saveTrace.disabled = (bits & 1) === 0;
  }

  function endedNotice(text) {
    const notice = addNotice(text + " ", false);
    const again = document.createElement("button");
    again.type = "button";
    again.textContent = "Start again";
    again.addEventListener("click", () => location.reload());
    notice.append(again);
  }

  const page = {
    addPortEntry(list, text) {
      const select = mainControls.get(list);
      const before = select.selectedIndex;
      select.add(new Option(text));
      // A list selects its first entry by itself; a dialog's list selects nothing until told.
      select.selectedIndex = before;
      return 0;
    },
    selectPortEntry(list, position) {
      const select = mainControls.get(list);
      const at = Number(position);
      select.selectedIndex = at >= 0 && at < select.options.length ? at : -1;
      return 0;
    },
    enableControl(id, on) {
      const element = mainControls.get(id);
      if (element) element.disabled = on !== "1";
      return 0;
    },
    selectedPosition(list) {
      return mainControls.get(list).selectedIndex;
    },
    controlText(id) {
      const element = mainControls.get(id);
      return element instanceof HTMLInputElement ? element.value : element.textContent;
    },
    setControlText(id, text) {
      const element = mainControls.get(id);
      if (element instanceof HTMLInputElement) element.value = text; else element.textContent = text;
      return 0;
    },
    postCloseRequest() {
      enqueue(() => command("kfw_page_close", [], []));
      return 0;
    },
    endWindow() {
      mainWindow.inert = true;
      return 0;
    },
    showBox(kindAndCaption, text) {
      const [kind, caption] = kindAndCaption.split("\n");
      return showBox(kind, caption, text);
    },
    // From the MIDI message event or from a procedure: shown, never waited for, since the program
    // ends at once (programEnded follows).
    showFatal(unused, captionAndText) {
      const [caption, ...lines] = captionAndText.split("\n");
      if (progressDialog.open) progressDialog.close();
      if (box.open) box.close();
      showBox("fatal", caption, lines.join("\n"));
      return 0;
    },
    chooseFile(title, pattern) {
      return new Promise((resolve) => {
        chooser.accept = pattern.replace(/^\*/, "");
        chooser.title = title;
        chooser.value = "";
        const done = (picked) => {
          chooser.onchange = null;
          chooser.oncancel = null;
          resolve(picked);
        };
        chooser.onchange = async () => {
          const file = chooser.files && chooser.files[0];
          if (!file) return done(null);
          try {
            done({name: file.name, bytes: new Uint8Array(await file.arrayBuffer())});
          } catch (error) {
            done(null);
          }
        };
        chooser.oncancel = () => done(null);
        chooser.click();
      });
    },
    procedureStarted() {
      procedureRunning = true;
      html.dataset.state = "busy";
      mainWindow.setAttribute("aria-busy", "true");
      movingFocus(() => {
        mainWindow.inert = true;
      });
      for (const input of settings.querySelectorAll("input")) input.disabled = true;
      keepScreenAwake();
      return 0;
    },
    procedureEnded(milliseconds) {
      procedureRunning = false;
      html.dataset.lastProcedureMilliseconds = String(milliseconds);
      // Where the waits' timers came from: "worker", or "window" where no worker could start.
      if (core.kfwTimers) html.dataset.timers = core.kfwTimers.kind;
      movingFocus(() => {
        mainWindow.inert = ended;
      });
      mainWindow.setAttribute("aria-busy", "false");
      html.dataset.state = ended ? "ended" : "ready";
      for (const input of settings.querySelectorAll("input")) input.disabled = false;
      if (wakeLock) wakeLock.release();
      return 0;
    },
    showProgress() {
      progressControls.get(1012).textContent = "";
      progressControls.get(1013).value = 0;
      movingFocus(() => {
        if (!progressDialog.open) progressDialog.showModal();
        progressControls.get(1011).focus();
      });
      return 0;
    },
    setProgress(percent, caption) {
      progressControls.get(1012).textContent = caption;
      progressControls.get(1013).value = percent;
      return 0;
    },
    hideProgress() {
      movingFocus(() => progressDialog.close());
      return 0;
    },
    options(bits) {
      setChecks(bits);
      return 0;
    },
    notice(kind, text) {
      addNotice(text, true).dataset.kind = ["midi", "port", "answer"][kind] || "";
      return 0;
    },
    ready() {
      html.dataset.state = "ready";
      mainWindow.setAttribute("aria-busy", "false");
      performance.mark("kfw-interactive");
      return 0;
    },
    sessionEnded(status) {
      ended = true;
      mainWindow.inert = true;
      html.dataset.state = "ended";
      endedNotice(status === 0 ? "The session has ended: the MIDI ports are closed."
                               : "The session has ended (exit status " + status + "): there is " +
                                 "no MIDI port to use.");
      return 0;
    },
  };

  // --- The settings, the trace ------------------------------------------------------------------

  // A setting is a word of the page's address, as an option is of a program's command line.
  settings.addEventListener("change", (event) => {
    const name = event.target.name;
    if (!name || procedureRunning) return;
    const query = new URLSearchParams(location.search);
    if (event.target.checked) query.set(name, ""); else query.delete(name);
    const text = query.toString().replace(/=(&|$)/g, "$1");
    location.search = text ? "?" + text : "";
  });
  settings.addEventListener("submit", (event) => event.preventDefault());

  saveTrace.addEventListener("click", () => {
    const text = core.UTF8ToString(core._kfw_page_trace());
    const link = document.createElement("a");
    link.href = URL.createObjectURL(new Blob([text], {type: "text/plain"}));
    link.download = "kfwupdate-trace.txt";
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  });

  // --- Start ------------------------------------------------------------------------------------

  function programEnded(status) {
    if (ended) return;
    ended = true;
    procedureRunning = false;
    mainWindow.inert = true;
    progressDialog.close();
    html.dataset.state = "ended";
    endedNotice("The program has ended (exit status " + status + ") after the failure it " +
                "showed; the MIDI ports are closed.");
    const midi = core && core.kfwWebMidi;
    if (midi) {
      for (const open of midi.opens.values()) {
        if (open.input) open.port.onmidimessage = null;
        Promise.resolve().then(() => open.port.close()).catch(() => {});
      }
      midi.opens.clear();
    }
  }

  window.addEventListener("unhandledrejection", (event) => {
    if (isExit(event.reason)) event.preventDefault();
  });

  createKfwCore({
    kfwPage: page,
    // Only for measuring what a hidden tab does to the page's own timers.
    kfwTimerSource: window.kfwPageTimerSource,
    print: (text) => console.log(text),
    printErr: (text) => console.warn(text),
    onExit: (status) => programEnded(status),
  }).then((module) => {
    core = module;
    const [width, height] = measureFont(core.UTF8ToString(core._kfw_page_letters()));
    const layout = JSON.parse(core.UTF8ToString(core._kfw_page_layout(width, height)));
    build(mainClient, layout.main, mainControls);
    build(progressClient, layout.progress, progressControls);
    wire();
    html.dataset.state = "starting";
    enqueue(async () => {
      const started = await command("kfw_page_start", ["string"], [location.search]);
      if (!started && !ended) programEnded(1);
    });
  }, failed);
})();
