// The back-end endpoints of the current environment, known to the page before its own
// scripts run.
(function () {
  var config = {{ appServicesConfig }};
  Object.defineProperty(window, 'appServicesConfig', { value: Object.freeze(config), enumerable: true });
})();
