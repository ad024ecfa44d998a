// The shell's light or dark look, known to the page before its own scripts run and kept
// current by the shell's appearance message.
(function () {
  window.hasDarkAppearance = {{ hasDarkAppearance }};
  window.addEventListener('message', function (event) {
    var data = event.source === window && event.data;
    if (data && (data.appearance === 'dark' || data.appearance === 'light'))
      window.hasDarkAppearance = data.appearance === 'dark';
  });
})();
