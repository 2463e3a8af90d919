// What a user does on each page of the wizard: the default choices,
// analytics agreed, no program started from Finish. Pages that work by
// themselves (Initialization, Downloading, Installing) have no entry.
export const userActions = {
  Welcome: (page) => page.click("#next"),
  Prerequisite: (page) => page.click("#next"),
  Agreement: async (page) => {
    await page.check("#accept");
    await page.click("#next");
  },
  Analytics: (page) => page.click("#agree"),
  Download: (page) => page.click("#next"),
  Install: (page) => page.click("#install"),
  Maintenance: (page) => page.click("#next"),
  Finish: async (page) => {
    if (await page.isVisible("#launch")) await page.uncheck("#launch");
    await page.click("#finish");
  },
  Error: (page) => page.click("#exit"),
  EmbargoedWarning: (page) => page.click("#cancel"),
};
