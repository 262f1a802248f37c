"""Debian's Chromium, headless, driven by Selenium: the browser of the web page's test
and of its benchmark."""
from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for argument in ('--headless=new', '--no-sandbox', '--disable-gpu',
                     '--disable-dev-shm-usage', '--window-size=1300,1500'):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
