// The start page: it asks the shell to open examples, tutorials and links, reports what the
// user does, and learns the experiments and whether the tutorial banner was dismissed from the
// shell's answer to "ready".
(function () {
  'use strict';

  function post(method, args) {
    var handlers = window.webkit && window.webkit.messageHandlers;
    if (!handlers || !handlers._webkit) return;
    var message = { method: method };
    if (args !== undefined) message.arguments = args;
    handlers._webkit.postMessage(JSON.stringify(message));
  }

  function applyAppearance(isDark) {
    document.body.classList.toggle('dark', !!isDark);
  }

  // The shell's answer to "ready": experiment name -> variant, and the page's stored state.
  function setABTests(selections, state) {
    var tests = selections && typeof selections === 'object' ? selections : {};
    var dismissed = !!(state && state.dismissedTutorialCTA === true);
    document.getElementById('tutorial-cta').hidden = dismissed;
    var sketch = document.getElementById('sketch-hint');
    var showSketch = tests.welcomeWindowSketch === 'sketch';
    if (showSketch && sketch.hidden) post('abTestShown', 'welcomeWindowSketch');
    sketch.hidden = !showSketch;
    document.documentElement.dataset.ready = 'true';
  }
  Object.defineProperty(window, '_setABtests', { value: setABTests });

  document.addEventListener('DOMContentLoaded', function () {
    applyAppearance(window.hasDarkAppearance);
    window.addEventListener('message', function (event) {
      var data = event.source === window && event.data;
      if (data && (data.appearance === 'dark' || data.appearance === 'light')) applyAppearance(data.appearance === 'dark');
    });

    // A build without a version to show keeps the placeholder: hide it.
    var version = document.getElementById('build-version');
    if (version.textContent.indexOf('{{') !== -1) version.hidden = true;
    var name = document.getElementById('build-name');
    if (name.textContent.indexOf('{{') !== -1) name.hidden = true;

    document.addEventListener('click', function (event) {
      var target = event.target.closest('button, a');
      if (!target) return;
      if (target.id) post('metricsUIInteraction', target.id);
      if (target.tagName === 'A') {
        event.preventDefault();
        post('link', target.href);
      } else if (target.dataset.example) {
        post('openExample', target.dataset.example);
      } else if (target.dataset.tutorial) {
        post('openTutorial', target.dataset.tutorial);
      } else if (target.id === 'dismiss-tutorial') {
        document.getElementById('tutorial-cta').hidden = true;
        post('dismissTutorialCta');
      }
    });

    post('DOMContentLoaded', { title: document.title });
    post('ready');
  });
})();
